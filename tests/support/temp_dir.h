// A fixture's own folder under /tmp, made before each test and removed after it, and the
// whole of a file as bytes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace testsupport {

inline std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `Base` set up first, then the folder; the folder goes before `Base` is torn down.
template <class Base = ::testing::Test>
class WithTempDir : public Base {
protected:
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        char tmpl[] = "/tmp/zarn60-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
        Base::TearDown();
    }
    std::filesystem::path m_dir;
};

}  // namespace testsupport
