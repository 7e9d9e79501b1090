// The option interlocks, row by row and through the sequences a user clicks.
#include "tests/app/app_fixture.h"

namespace {

using apptest::AppTest;

constexpr int kTrackRows[] = {IDC_END_TRACK1, IDC_END_TRACK2, IDC_END_TRACK3};
constexpr int kTrackRadios[] = {1042, 1043, 1044, 1045, 1046, 1047};

class InterlockTest : public AppTest {
protected:
    void ClearAllTrackRows() {
        for (int id : kTrackRows) dlg.UserClick(id);
    }
};

TEST_F(InterlockTest, ClearingTheLastTrackRowEnablesThePacketRowWithoutChoosing) {
    dlg.UserClick(IDC_END_TRACK1);
    EXPECT_FALSE(Checked(IDC_TRACK1_CRLF));
    EXPECT_FALSE(Checked(IDC_TRACK1_CR));
    EXPECT_FALSE(Enabled(IDC_END_PACKET));
    dlg.UserClick(IDC_END_TRACK2);
    EXPECT_FALSE(Enabled(IDC_END_PACKET));
    EXPECT_FALSE(Enabled(IDC_PACKET_CR));
    dlg.UserClick(IDC_END_TRACK3);
    EXPECT_TRUE(Enabled(IDC_END_PACKET));
    EXPECT_TRUE(Enabled(IDC_PACKET_CRLF));
    EXPECT_TRUE(Enabled(IDC_PACKET_CR));
    EXPECT_FALSE(Checked(IDC_END_PACKET));
    EXPECT_FALSE(Checked(IDC_PACKET_CRLF));
    EXPECT_FALSE(Checked(IDC_PACKET_CR));
    for (int id : kTrackRadios) EXPECT_FALSE(Checked(id)) << id;
}

TEST_F(InterlockTest, EndOfPacketSwitchesBetweenTrackAndPacketTerminators) {
    ClearAllTrackRows();
    dlg.UserClick(IDC_END_PACKET);
    EXPECT_TRUE(Checked(IDC_PACKET_CR));
    EXPECT_FALSE(Checked(IDC_PACKET_CRLF));
    for (int id : kTrackRows) EXPECT_FALSE(Enabled(id));
    for (int id : kTrackRadios) EXPECT_FALSE(Enabled(id));
    EXPECT_TRUE(Enabled(IDC_PACKET_CRLF));

    dlg.UserClick(IDC_END_PACKET);  // clear it again
    for (int id : kTrackRows) {
        EXPECT_TRUE(Enabled(id));
        EXPECT_FALSE(Checked(id));
    }
    for (int id : kTrackRadios) EXPECT_TRUE(Enabled(id));
    EXPECT_FALSE(Enabled(IDC_END_PACKET));
    EXPECT_FALSE(Checked(IDC_END_PACKET));
    EXPECT_FALSE(Enabled(IDC_PACKET_CRLF));
    EXPECT_FALSE(Checked(IDC_PACKET_CRLF));
    EXPECT_FALSE(Checked(IDC_PACKET_CR));
}

TEST_F(InterlockTest, CheckingEndOfPacketWhilePacketCrLfIsChosenKeepsBothRadios) {
    ClearAllTrackRows();
    dlg.UserClick(IDC_PACKET_CRLF);  // checks End of packet, nothing else
    EXPECT_TRUE(Checked(IDC_END_PACKET));
    EXPECT_TRUE(Checked(IDC_PACKET_CRLF));
    for (int id : kTrackRows) EXPECT_TRUE(Enabled(id));
    // Checking a track row then disables End of packet but leaves it checked.
    dlg.UserClick(IDC_END_TRACK2);
    EXPECT_FALSE(Enabled(IDC_END_PACKET));
    EXPECT_TRUE(Checked(IDC_END_PACKET));
    EXPECT_FALSE(Checked(IDC_PACKET_CRLF));
    EXPECT_FALSE(Enabled(IDC_PACKET_CR));
    EXPECT_TRUE(Checked(IDC_TRACK2_CR));  // CR, not CR+LF
    EXPECT_FALSE(Checked(IDC_TRACK2_CRLF));
}

TEST_F(InterlockTest, CheckingATrackRowChoosesCrAndProgramChecksKeepThePartner) {
    dlg.UserClick(IDC_END_TRACK1);
    dlg.SetCheck(IDC_TRACK1_CRLF, true);  // a program check
    dlg.UserClick(IDC_END_TRACK1);
    EXPECT_TRUE(Checked(IDC_TRACK1_CR));
    EXPECT_TRUE(Checked(IDC_TRACK1_CRLF));  // a program check does not clear its partner
    dlg.UserClick(IDC_TRACK1_CRLF);         // a user's click does
    EXPECT_FALSE(Checked(IDC_TRACK1_CR));
    EXPECT_TRUE(Checked(IDC_END_TRACK1));  // row radios change nothing else
}

TEST_F(InterlockTest, DisableSentinelsEmptiesAndRestoresThem) {
    dlg.UserType(IDC_TRACK1_SS, "#");
    dlg.UserClick(IDC_DISABLE_SS);
    for (int id : {IDC_TRACK1_SS, IDC_TRACK2_SS, IDC_TRACK3_SS}) {
        EXPECT_EQ(Text(id), "");
        EXPECT_FALSE(Enabled(id));
    }
    EXPECT_EQ(dlg.m_strTrack1SS, "");
    dlg.UserClick(IDC_DISABLE_SS);
    EXPECT_EQ(Text(IDC_TRACK1_SS), "%");
    EXPECT_EQ(Text(IDC_TRACK2_SS), ";");
    EXPECT_EQ(Text(IDC_TRACK3_SS), "+");
    EXPECT_TRUE(Enabled(IDC_TRACK1_SS));

    dlg.UserType(IDC_TRACK2_ES, "!");
    dlg.UserClick(IDC_DISABLE_ES);
    for (int id : {IDC_TRACK1_ES, IDC_TRACK2_ES, IDC_TRACK3_ES}) {
        EXPECT_EQ(Text(id), "");
        EXPECT_FALSE(Enabled(id));
    }
    dlg.UserClick(IDC_DISABLE_ES);
    for (int id : {IDC_TRACK1_ES, IDC_TRACK2_ES, IDC_TRACK3_ES}) {
        EXPECT_EQ(Text(id), "?");
        EXPECT_TRUE(Enabled(id));
    }
    EXPECT_EQ(Text(IDC_TRACK1_SS), "%");  // the other sentinels are untouched
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(InterlockTest, DisableSsWithATooLongTextShowsTheMessageAndGoesOn) {
    dlg.UserType(IDC_PREFIX, "pre");     // before the failing member: taken
    dlg.SetText(IDC_TRACK1_END, "100");  // as an upload can leave it (limit 2)
    dlg.SetText(IDC_TRACK3_END, "7");    // after it: put back to the member
    dlg.UserClick(IDC_DISABLE_SS);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "输入的字符请不要多于 2 个。");
    EXPECT_EQ(host.boxes[0].icon, ui::MsgIcon::Exclamation);
    EXPECT_EQ(dlg.m_strPrefix, "pre");
    EXPECT_EQ(Text(IDC_TRACK1_END), "");
    EXPECT_EQ(Text(IDC_TRACK3_END), "");
    EXPECT_EQ(Text(IDC_TRACK1_SS), "");  // the sentinels are emptied all the same
    EXPECT_FALSE(Enabled(IDC_TRACK1_SS));
    // The edits now hold the members' texts: the next save passes.
    dlg.UserClick(IDC_DISABLE_SS);
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(Text(IDC_TRACK1_SS), "%");
}

TEST_F(InterlockTest, TrimCountEditFollowsTheTrimRadios) {
    dlg.UserClick(IDC_TRIM_SPACES);
    EXPECT_TRUE(Enabled(IDC_TRIM_COUNT));
    dlg.UserType(IDC_TRIM_COUNT, "3");
    dlg.UserClick(IDC_TRIM_NO_CHANGE);
    EXPECT_FALSE(Enabled(IDC_TRIM_COUNT));
    EXPECT_EQ(Text(IDC_TRIM_COUNT), "3");
    EXPECT_FALSE(Checked(IDC_TRIM_SPACES));
}

TEST_F(InterlockTest, StxYesCutsPrefixAndSuffixOnce) {
    dlg.UserType(IDC_PREFIX, "ABCDEFGHIJKLMNO");
    dlg.UserType(IDC_SUFFIX, "abcdefghijklmno");
    dlg.UserClick(IDC_STX_YES);
    EXPECT_EQ(Text(IDC_PREFIX), "ABCDEFGHIJKLMN");
    EXPECT_EQ(Text(IDC_SUFFIX), "abcdefghijklmn");
    EXPECT_EQ(Limit(IDC_SUFFIX), 15);  // no limit changes
    EXPECT_EQ(Limit(IDC_PREFIX), 15);
    EXPECT_FALSE(Checked(IDC_STX_NO));

    // The suffix is held to 14 by its change rule; the prefix is not.
    dlg.UserPaste(IDC_SUFFIX, "012345678901234");
    EXPECT_EQ(Text(IDC_SUFFIX), "01234567890123");
    dlg.UserType(IDC_SUFFIX, "0123456789abcdef");
    EXPECT_EQ(Text(IDC_SUFFIX), "0123456789abcd");
    dlg.UserType(IDC_PREFIX, "0123456789abcde");
    EXPECT_EQ(Text(IDC_PREFIX), "0123456789abcde");
    dlg.SetText(IDC_SUFFIX, "0123456789abcde");  // program texts too
    EXPECT_EQ(Text(IDC_SUFFIX), "0123456789abcd");

    dlg.UserClick(IDC_STX_NO);
    dlg.UserPaste(IDC_SUFFIX, "012345678901234");
    EXPECT_EQ(Text(IDC_SUFFIX), "012345678901234");
}

TEST_F(InterlockTest, SuffixLimitFollowsSuffixCheckStxAndDataExchange) {
    dlg.UserClick(IDC_SUFFIX_CHECK);  // NO chosen: 15
    EXPECT_EQ(Limit(IDC_SUFFIX), 15);
    dlg.UserClick(IDC_STX_YES);
    dlg.UserClick(IDC_SUFFIX_CHECK);  // now clear with YES: unchanged
    EXPECT_EQ(Limit(IDC_SUFFIX), 15);
    dlg.LimitText(IDC_SUFFIX, 9);
    dlg.UserClick(IDC_SUFFIX_CHECK);  // now checked with YES: 14
    EXPECT_EQ(Limit(IDC_SUFFIX), 14);
    dlg.UserClick(IDC_SUFFIX_CHECK);  // clear again: unchanged
    EXPECT_EQ(Limit(IDC_SUFFIX), 14);
    dlg.UserClick(IDC_SUFFIX_CHECK);

    dlg.UserClick(IDC_DISABLE_SS);  // the data exchange puts the limit back to 15
    EXPECT_EQ(Limit(IDC_SUFFIX), 15);
    dlg.UserPaste(IDC_SUFFIX, "012345678901234");  // the change rule still cuts
    EXPECT_EQ(Text(IDC_SUFFIX), "01234567890123");

    dlg.LimitText(IDC_SUFFIX, 14);
    dlg.UserClick(IDC_STX_NO);
    EXPECT_EQ(Limit(IDC_SUFFIX), 15);
    dlg.LimitText(IDC_SUFFIX, 14);
    dlg.UserClick(IDC_SUFFIX_CHECK);  // NO chosen: back to 15 whatever the check
    EXPECT_EQ(Limit(IDC_SUFFIX), 15);
}

TEST_F(InterlockTest, ControlsWithoutInterlocksChangeNothingElse) {
    for (int id : {IDC_PREFIX_CHECK, IDC_BEEP_ON, IDC_OUTPUT_TRACK1, IDC_DISABLE_AUTO_OUTPUT,
                   IDC_BUTTON12}) {
        dlg.UserClick(id);
    }
    dlg.UserDoubleClick(IDC_BEEP_OFF);
    EXPECT_TRUE(Checked(IDC_BEEP_OFF));
    EXPECT_FALSE(Checked(IDC_BEEP_ON));
    EXPECT_TRUE(Checked(IDC_PREFIX_CHECK));
    EXPECT_FALSE(Checked(IDC_OUTPUT_TRACK1));
    EXPECT_EQ(Text(IDC_TEST_BOX), "");
    EXPECT_EQ(Limit(IDC_PREFIX), 15);
    EXPECT_EQ(g_connectionMode, CONNECTION_USB);
    EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
