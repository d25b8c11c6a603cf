// BuildCommDCBA in both mode-command syntaxes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

DCB startingBlock() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 300;
    dcb.ByteSize = 7;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fInX = 1;
    dcb.fOutX = 1;
    dcb.XonChar = 0x11;
    dcb.EvtChar = 'E';
    return dcb;
}

TEST(BuildCommDcb, KeyValueFormSetsWhatItNamesAndDisablesFlowControl) {
    DCB dcb = startingBlock();
    ASSERT_TRUE(BuildCommDCBA("baud=9600 parity=N data=8 stop=1", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.EvtChar, 'E');  // not named, not touched
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));

    ASSERT_TRUE(
        BuildCommDCBA("COM3: BAUD=115200 parity=e data=7 stop=2 xon=on octs=on "
                      "dtr=hs rts=tg idsr=on odsr=off to=on",
                      &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
    EXPECT_EQ(dcb.fDsrSensitivity, 1u);
}

TEST(BuildCommDcb, PositionalFormWithItsFlowSuffixes) {
    DCB dcb = startingBlock();
    ASSERT_TRUE(BuildCommDCBA("9600,n,8,1", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

    ASSERT_TRUE(BuildCommDCBA("96,e,7,2,x", &dcb));  // the mode command's short rates
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.fOutX, 1u);

    ASSERT_TRUE(BuildCommDCBA("COM1: 19200, m, 5, 1.5, p", &dcb));
    EXPECT_EQ(dcb.Parity, MARKPARITY);
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));

    ASSERT_TRUE(BuildCommDCBA("110,s,8", &dcb));
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);  // 110 baud brings two stop bits
    EXPECT_EQ(dcb.Parity, SPACEPARITY);
}

TEST(BuildCommDcb, BadTextFailsAndLeavesTheBlockAlone) {
    for (const char* text : {"baud=9600 parity=x", "baud=0", "data=9", "stop=3",
                             "baud=9600 colour=red", "xon=maybe", "9600,n,8,1,z", "9600,n,4", "abc",
                             "9600,n,8,1,x,extra", "baud=9600 9600", "baud=99999999999"}) {
        DCB dcb = startingBlock();
        const DCB before = dcb;
        SetLastError(0);
        EXPECT_FALSE(BuildCommDCBA(text, &dcb)) << text;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << text;
        EXPECT_EQ(std::memcmp(&dcb, &before, sizeof dcb), 0) << text;
    }
    DCB dcb{};
    EXPECT_FALSE(BuildCommDCBA(nullptr, &dcb));
    EXPECT_FALSE(BuildCommDCBA("9600,n,8,1", nullptr));
}

}  // namespace
