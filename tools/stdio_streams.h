// Standard output, error and input as C++ streams over C's stdio, each made on first use.
// <iostream>'s streams are set up, with the C++ locale behind them, as the program
// starts, whether it ever prints or not; the window prints nothing and starts without
// that cost. Written bytes go to stdio's own buffers, so C and C++ output keep their
// order.
#pragma once

#include <cerrno>
#include <cstdio>
#include <istream>
#include <ostream>
#include <streambuf>

namespace tools {

class StdioWriteBuf : public std::streambuf {
public:
    explicit StdioWriteBuf(std::FILE* file) : m_file(file) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        return std::fputc(traits_type::to_char_type(c), m_file) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<size_t>(n), m_file));
    }
    int sync() override { return std::fflush(m_file) == 0 ? 0 : -1; }

private:
    std::FILE* m_file;
};

class StdioReadBuf : public std::streambuf {
public:
    explicit StdioReadBuf(std::FILE* file) : m_file(file) {}
    // The errno of a read that failed (a folder, a closed descriptor), 0 when every read
    // ended in data or the end of the input: the stream sees both as its end.
    int ReadError() const { return m_error; }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        errno = 0;
        // Up to the end of a line and no further: a script fed a line at a time through a
        // pipe (a program driving the runner step by step) has each line run as it comes,
        // not when a whole buffer has arrived.
        size_t n = 0;
        while (n < sizeof m_buffer) {
            const int c = std::getc(m_file);
            if (c == EOF) break;
            m_buffer[n++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (n == 0) {
            if (std::ferror(m_file)) m_error = errno != 0 ? errno : EIO;
            return traits_type::eof();
        }
        setg(m_buffer, m_buffer, m_buffer + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    std::FILE* m_file;
    int m_error = 0;
    char m_buffer[4096];
};

inline std::ostream& Out() {
    static StdioWriteBuf buf(stdout);
    static std::ostream stream(&buf);
    return stream;
}

inline std::ostream& Err() {
    static StdioWriteBuf buf(stderr);
    static std::ostream stream(&buf);
    return stream;
}

inline StdioReadBuf& InBuf() {
    static StdioReadBuf buf(stdin);
    return buf;
}

inline std::istream& In() {
    static std::istream stream(&InBuf());
    return stream;
}

}  // namespace tools
