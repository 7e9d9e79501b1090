// "Read Card" over USB shows card data and nothing else: what the user typed since the
// last saving data exchange, and edits a shown record emptied and disabled, stay as they
// are, so the next download sends what the dialog shows.
#include "../support/temp_dir.h"
#include "fixture.h"
#include "settings_file/settings_file.h"

namespace optest {
namespace {

using CardKeepsEdits = testsupport::WithTempDir<OperationsTest>;

TEST_F(CardKeepsEdits, TypedAndDisabledEditsSurviveAUsbCardRead) {
    // A record with start sentinels off, shown by a load: 1018 checked, 1000-1002 empty
    // and disabled, while the bound members still hold "%", ";", "+".
    protocol::ReaderConfig noStart = testsupport::StartupConfig();
    noStart.startSentinel = {0, 0, 0};
    const std::string file = (m_dir / "nostart.cfg").string();
    ASSERT_TRUE(settings_file::WriteSettingsFile(
        file, protocol::MakeConfigReadImage(noStart, {0, 0, 0, 0}, 0)));
    m_host.fileAnswers.push_back(file);
    m_dlg.UserClick(IDC_LOAD_FILE);
    ASSERT_TRUE(m_dlg.IsChecked(IDC_DISABLE_SS));
    // Typed, never taken by a saving exchange.
    m_dlg.UserType(IDC_TRACK2_END, "30");
    const auto before = Snapshot(m_dlg);

    m_dlg.UserClick(IDC_READ_CARD);
    ASSERT_FALSE(TestBox().empty()) << "the card data are shown";
    EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{});
    for (int id : {IDC_TRACK1_SS, IDC_TRACK2_SS, IDC_TRACK3_SS}) {
        EXPECT_EQ(m_dlg.GetText(id), "");
        EXPECT_FALSE(m_dlg.IsEnabled(id));
    }
    EXPECT_EQ(m_dlg.GetText(IDC_TRACK2_END), "30");

    // The download that follows sends no start sentinels and the typed end position.
    Log();
    m_dlg.UserClick(IDC_DOWNLOAD);
    ASSERT_EQ(TestBox(), "Setup ok");
    const SimLog log = Log();
    ASSERT_EQ(log.usb.size(), 8u);
    EXPECT_EQ(log.usb[0].substr(3 + 5 * 3, 8), "00 00 00") << log.usb[0];
    const protocol::ReaderConfig sent = protocol::ParseConfigWriteImage([&] {
        protocol::ConfigWriteImage image{};
        for (size_t k = 0; k < 8; ++k)
            for (size_t i = 0; i < 8; ++i)
                image[k * 8 + i] =
                    static_cast<uint8_t>(std::stoul(log.usb[k].substr(3 + i * 3, 2), nullptr, 16));
        return image;
    }());
    EXPECT_EQ(sent.trackLength[1], 30);
}

}  // namespace
}  // namespace optest
