// Loading a .cfg settings file: ReadSettingsFile on whatever a file holds, then "Load
// Setting from File" through the dialog, then saving the image back.
//
// Input: byte 0 picks what the chosen path is (a regular file holding the rest of the
// input, a symbolic link to it, a file with a second name, a folder, a FIFO, a missing
// file); the rest is the file's content. A file of 56 bytes or more loads its first 56 and
// shows them exactly as ShowReaderConfig does; anything else is refused with the fixed text
// and the option controls stay as they were; nothing hangs on a FIFO; a save writes exactly
// 56 bytes, into the file itself (a link's target, every name of a hard-linked file).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "app/operations/config_dialog.h"
#include "fuzz/fuzz_support.h"
#include "settings_file/settings_file.h"

namespace {

enum PathKind { REGULAR, SYMLINK, FOLDER, FIFO, MISSING, HARDLINK, KIND_COUNT };

using fuzz::WithoutTestBox;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return -1;
    const PathKind kind = static_cast<PathKind>(data[0] % KIND_COUNT);
    const uint8_t* content = data + 1;
    const size_t length = size - 1;

    const std::string dir = fuzz::ScratchDir();
    const std::string file = dir + "/load.cfg";
    const std::string link = dir + "/link.cfg";
    const std::string folder = dir + "/folder.cfg";
    const std::string fifo = dir + "/fifo.cfg";
    const std::string twin = dir + "/twin.cfg";
    ::unlink(file.c_str());
    ::unlink(twin.c_str());
    ::unlink(link.c_str());
    ::rmdir(folder.c_str());
    ::unlink(fifo.c_str());

    std::string path;
    switch (kind) {
        case REGULAR:
        case SYMLINK:
        case HARDLINK:
            FUZZ_CHECK(fuzz::WriteWholeFile(file, content, length), "cannot write %s",
                       file.c_str());
            path = file;
            if (kind == SYMLINK) {
                FUZZ_CHECK(::symlink(file.c_str(), link.c_str()) == 0, "symlink");
                path = link;
            }
            if (kind == HARDLINK) FUZZ_CHECK(::link(file.c_str(), twin.c_str()) == 0, "link");
            break;
        case FOLDER:
            FUZZ_CHECK(::mkdir(folder.c_str(), 0700) == 0, "mkdir");
            path = folder;
            break;
        case FIFO:
            FUZZ_CHECK(::mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
            path = fifo;
            break;
        default:
            path = dir + "/missing.cfg";
            break;
    }
    const bool isFile = kind == REGULAR || kind == SYMLINK || kind == HARDLINK;
    const bool loadable = isFile && length >= protocol::CONFIG_READ_IMAGE_SIZE;

    protocol::ConfigReadImage image{};
    FUZZ_CHECK(settings_file::ReadSettingsFile(path, image) == loadable,
               "ReadSettingsFile on kind %d, %zu bytes", kind, length);
    if (loadable)
        FUZZ_CHECK(std::memcmp(image.data(), content, protocol::CONFIG_READ_IMAGE_SIZE) == 0,
                   "the image is not the file's first 56 bytes");

    // Through the dialog: the same as showing the image directly.
    fuzz::FreshDialog d;
    fuzz::FreshDialog expected;
    d.host.fileAnswers.push_back(path);
    const auto before = WithoutTestBox(fuzz::Snapshot(d.dlg));
    FUZZ_CHECK(d.dlg.UserClick(IDC_LOAD_FILE), "the load button ignored the click");
    const std::string status = d.dlg.GetText(IDC_TEST_BOX);
    if (loadable) {
        FUZZ_CHECK(status == "Load setting ok!", "status \"%s\"", status.c_str());
        expected.dlg.UpdateData(true);
        operations::ShowReaderConfig(expected.dlg, image);
        expected.dlg.ShowStatus("Load setting ok!");
        const auto got = fuzz::Snapshot(d.dlg), want = fuzz::Snapshot(expected.dlg);
        FUZZ_CHECK(got == want, "load differs from ShowReaderConfig at control %d",
                   fuzz::FirstDifference(got, want));
    } else {
        FUZZ_CHECK(status == "Open Setup.cfg File Error", "status \"%s\"", status.c_str());
        const auto after = WithoutTestBox(fuzz::Snapshot(d.dlg));
        FUZZ_CHECK(after == before, "a refused file changed control %d",
                   fuzz::FirstDifference(before, after));
    }
    FUZZ_CHECK(d.host.messageBoxes == 0, "a message box while loading");

    // Saving replaces the file whole: exactly the 56 bytes, whatever it held.
    const bool saved = settings_file::WriteSettingsFile(path, image);
    FUZZ_CHECK(saved == (isFile || kind == MISSING), "WriteSettingsFile on kind %d gave %d", kind,
               saved);
    if (saved) {
        const auto back = fuzz::ReadWholeFile(path);
        FUZZ_CHECK(back && back->size() == protocol::CONFIG_READ_IMAGE_SIZE &&
                       std::memcmp(back->data(), image.data(), image.size()) == 0,
                   "the saved file is not the image");
        protocol::ConfigReadImage again{};
        FUZZ_CHECK(settings_file::ReadSettingsFile(path, again) && again == image,
                   "saved file does not load");
        if (kind == SYMLINK) {
            struct stat st {};
            FUZZ_CHECK(::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode),
                       "the save replaced the link instead of its target");
        }
        if (kind == HARDLINK) {
            const auto other = fuzz::ReadWholeFile(twin);
            FUZZ_CHECK(other && *other == *back, "the file's other name kept the old bytes");
        }
    }
    if (kind == MISSING) ::unlink(path.c_str());
    return 0;
}
