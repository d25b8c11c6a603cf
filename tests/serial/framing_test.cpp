// The receive framing driven directly on a port record whose buffers the test owns, as the read
// thread (HandleReadData) and the dispatch thread (a release, then TideCommHandleReadData) would
// drive it. The test thread stands in for the dispatch thread: announcements land in its queue.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "serial_engine.h"

using serialtest::Callback;
using serialtest::CallLog;
using serialtest::Record;

namespace {

constexpr int kPort = 3;

// A well-formed NMEA sentence (checksum 0x47) and the same with a wrong checksum.
const std::string kGoodSentence =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kBadSentence =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n";

// "C12AB3F" scrambled with the Rondo keys and closed by its check byte.
const std::string kRondoC = std::string("$A15EB0G") + '\xd8';

class FramingTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { engine_ = std::make_unique<serialtest::EngineThread>(); }
    static void TearDownTestSuite() { engine_.reset(); }

    void SetUp() override {
        TideComm_Init();
        CallLog::clear();
        record_ = TideComm_GetStructPtr(kPort);
        record_->dispatchThreadId = GetCurrentThreadId();
        MSG stale;
        while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) {
        }
        Allocate(512, 4096);
    }

    void TearDown() override {
        record_->receiveRing = nullptr;
        record_->frameBuffer = nullptr;
        record_->readBuffer = nullptr;
    }

    // What an open would set up: a frame buffer of inputLen + 1 bytes (pre-filled so a missing
    // terminator shows), a read buffer of inputLen bytes and the ring.
    void Allocate(int inputLen, int ringSize) {
        record_->inputLen = inputLen;
        record_->frameCapacity = inputLen;
        record_->inBufferSize = ringSize;
        ring_.assign(static_cast<std::size_t>(ringSize), 0);
        frame_.assign(static_cast<std::size_t>(inputLen) + 1, '\xEE');
        read_.assign(static_cast<std::size_t>(inputLen), 0);
        record_->receiveRing = ring_.data();
        record_->frameBuffer = frame_.data();
        record_->readBuffer = read_.data();
    }

    void Characters(int start, int end, int frameLength) {
        ASSERT_EQ(TideComm_InstallReceiveCallback(kPort, start, end, frameLength, 0,
                                                  Record<Callback::Receive>),
                  0);
    }

    // Bytes arriving from the device, in reads no larger than the read buffer.
    int Receive(const std::string& bytes) {
        int result = 1;
        for (std::size_t at = 0; at < bytes.size(); at += read_.size()) {
            const std::size_t n = std::min(read_.size(), bytes.size() - at);
            std::memcpy(read_.data(), bytes.data() + at, n);
            record_->bytesRead = static_cast<DWORD>(n);
            result = HandleReadData(record_);
        }
        return result;
    }

    // The announcement waiting in the test thread's queue, checked against the frame buffer;
    // "" when there is none.
    std::string TakeAnnouncement() {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            return "";
        }
        EXPECT_EQ(message.message, static_cast<UINT>(TIDECOMM_MSG_RECEIVE));
        EXPECT_EQ(message.lParam, reinterpret_cast<LPARAM>(record_->frameBuffer));
        const int length = static_cast<int>(message.wParam);
        EXPECT_EQ(record_->frameCount.load(), length);
        EXPECT_EQ(record_->frameBuffer[length], 0) << "frame not NUL-terminated";
        EXPECT_EQ(record_->receivePending.load(), 1);
        return std::string(record_->frameBuffer, static_cast<std::size_t>(length));
    }

    // The application releases the frame; the dispatch thread frames the rest of the ring.
    void Release() {
        record_->frameCount.store(0);
        record_->receivePending = 0;
        TideCommHandleReadData(record_);
    }

    // Every frame the ring yields, releasing each.
    std::vector<std::string> Frames() {
        std::vector<std::string> frames;
        for (std::string frame = TakeAnnouncement(); !frame.empty(); frame = TakeAnnouncement()) {
            frames.push_back(frame);
            Release();
        }
        return frames;
    }

    int RingFill() const {
        return (record_->receiveWriteIndex - record_->receiveReadIndex) &
               (record_->inBufferSize - 1);
    }

    std::size_t ReceiveErrorsReported() {
        engine_->waitIdle();
        return CallLog::count(Callback::ReceiveError);
    }

    static std::unique_ptr<serialtest::EngineThread> engine_;
    TideCommPortRecord* record_ = nullptr;
    std::vector<char> ring_, frame_, read_;
};

std::unique_ptr<serialtest::EngineThread> FramingTest::engine_;

using FrameList = std::vector<std::string>;

TEST_F(FramingTest, BinaryBurstBecomesOneTerminatedFrame) {
    const std::string burst("\x79\x00\x1f\x7f\x02", 5);
    EXPECT_EQ(Receive(burst), 1);
    EXPECT_EQ(TakeAnnouncement(), burst);
    EXPECT_EQ(RingFill(), 0);
    EXPECT_EQ(record_->startIndex.load(), -1);
    EXPECT_EQ(record_->endIndex.load(), -1);
    EXPECT_EQ(record_->lastReadLength, 5);
    EXPECT_EQ(record_->bytesRead, 0u);
    EXPECT_EQ(record_->error.load(), 0);
}

TEST_F(FramingTest, WaitingFrameIsAnnouncedOnceAndLaterBytesWaitForItsRelease) {
    Receive("AB");
    EXPECT_EQ(TakeAnnouncement(), "AB");
    Receive("CD");
    Receive("EF");
    EXPECT_EQ(TakeAnnouncement(), "") << "announced while a frame waits";
    EXPECT_EQ(std::string(record_->frameBuffer), "AB");
    EXPECT_EQ(RingFill(), 4);
    Release();
    EXPECT_EQ(Frames(), FrameList({"CDEF"}));
}

TEST_F(FramingTest, InputLengthCutsFrames) {
    std::string full(512, 'x');
    full.back() = 'y';
    Receive(full);
    EXPECT_EQ(Frames(), FrameList({full}));
    EXPECT_EQ(record_->error.load(), 0);

    // 600 bytes in the ring: the 512th reaches the input length while bytes still wait. This is
    // reported, and the bytes go on as a frame rather than being framed the same way forever.
    Receive("W");
    ASSERT_EQ(TakeAnnouncement(), "W");
    std::string backlog;
    for (int k = 0; k < 600; ++k) {
        backlog += static_cast<char>('a' + k % 26);
    }
    Receive(backlog.substr(0, 300));
    Receive(backlog.substr(300));
    Release();
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_FIXED_LENGTH);
    EXPECT_EQ(Frames(), FrameList({backlog.substr(0, 512), backlog.substr(512)}));
    EXPECT_EQ(ReceiveErrorsReported(), 0u) << "no receive error callback installed";

    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    Receive("W");
    ASSERT_EQ(TakeAnnouncement(), "W");
    Receive(backlog.substr(0, 300));
    Receive(backlog.substr(300));
    Release();
    EXPECT_EQ(Frames().size(), 2u);
    EXPECT_EQ(ReceiveErrorsReported(), 1u);
    EXPECT_EQ(CallLog::calls().back().port, kPort);
}

TEST_F(FramingTest, EndCharacterAloneEndsFrames) {
    Characters(-1, 13, 0);
    Receive("AB\r");
    EXPECT_EQ(Frames(), FrameList({"AB\r"}));
    Receive("AB");
    EXPECT_EQ(Frames(), FrameList({"AB"}));
    Receive("L1\rL2\rL3");
    EXPECT_EQ(Frames(), FrameList({"L1\r", "L2\r", "L3"}));
    EXPECT_EQ(record_->error.load(), 0);
}

TEST_F(FramingTest, StartAndEndCharactersAndTheirErrors) {
    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    Characters('$', '*', 0);

    Receive("xy$AB*");
    EXPECT_EQ(Frames(), FrameList({"$AB*"})) << "bytes before the start are dropped";
    EXPECT_EQ(ReceiveErrorsReported(), 0u);

    Receive("*$CD*");
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_END_CHAR);
    EXPECT_EQ(Frames(), FrameList({"$CD*"}));
    EXPECT_EQ(ReceiveErrorsReported(), 1u);

    Receive("$E$FG*");
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_START_CHAR);
    EXPECT_EQ(Frames(), FrameList({"$FG*"})) << "the second start begins the next frame";
    EXPECT_EQ(ReceiveErrorsReported(), 2u);
    EXPECT_EQ(CallLog::calls().back().error, TIDECOMM_ERR_START_CHAR);
}

TEST_F(FramingTest, FixedLengthFrameIsPushedBackUntilComplete) {
    Characters('$', '*', 8);
    Receive("$ABC");
    EXPECT_EQ(TakeAnnouncement(), "");
    EXPECT_EQ(RingFill(), 4) << "the partial frame goes back into the ring";
    EXPECT_EQ(record_->startIndex.load(), -1);
    Receive("DEF*");
    EXPECT_EQ(Frames(), FrameList({"$ABCDEF*"}));

    // Before the fixed position the end character is data.
    Receive("$A*CDEF*");
    EXPECT_EQ(Frames(), FrameList({"$A*CDEF*"}));

    // A negative length forgets the start instead; the next start begins afresh.
    Characters('$', '*', -8);
    Receive("$A*$BCDEFG*");
    EXPECT_EQ(Frames(), FrameList({"$BCDEFG*"}));
    EXPECT_EQ(record_->error.load(), 0);
}

TEST_F(FramingTest, ThresholdCutsFramesAndOneIgnoresTheCharacters) {
    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    Characters('$', '*', 0);
    record_->rThreshold = 1;
    Receive("*$$*A");
    EXPECT_EQ(Frames(), FrameList({"*", "$", "$", "*", "A"}));
    EXPECT_EQ(ReceiveErrorsReported(), 0u);

    Characters(-1, -1, 0);
    record_->rThreshold = 3;
    Receive("ABCDE");
    EXPECT_EQ(Frames(), FrameList({"ABC", "DE"}));
}

TEST_F(FramingTest, FrameLongerThanTheBufferIsReportedAndCut) {
    Allocate(16, 4096);
    // Raised after the buffers were sized, as an install on an open port does.
    ASSERT_EQ(TideComm_InstallReceiveCallback(kPort, '$', '\r', 0, 64, Record<Callback::Receive>),
              0);
    ASSERT_EQ(record_->inputLen.load(), 64);
    Receive("W");
    ASSERT_EQ(TakeAnnouncement(), "W");
    const std::string line = "$0123456789ABCDEFGHIJ";
    Receive(line);  // waits in the ring, longer than the frame buffer
    Release();
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_INPUT_LENGTH);
    EXPECT_EQ(Frames(), FrameList({line.substr(0, 16), line.substr(16)}));
}

int rejectedFrames = 0;
int RejectFramesWithX(int port, const char* data, int length) {
    EXPECT_EQ(port, kPort);
    if (std::string(data, static_cast<std::size_t>(length)).find('X') != std::string::npos) {
        ++rejectedFrames;
        return 0;
    }
    return 1;
}

TEST_F(FramingTest, CheckerRejectionDropsTheFrame) {
    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    TideComm_InstallReceiveCheckCallback(kPort, RejectFramesWithX, 0);
    Characters(-1, '\n', 0);
    rejectedFrames = 0;
    Receive("AXB\nCD\n");
    EXPECT_EQ(Frames(), FrameList({"CD\n"}));
    EXPECT_EQ(rejectedFrames, 1);
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_USER_CHECK);
    EXPECT_EQ(ReceiveErrorsReported(), 1u);
}

TEST_F(FramingTest, GpsSentencesFailingTheirChecksum) {
    ASSERT_EQ(TideComm_SetReceiveCheck(kPort, 1), 0);
    Characters('$', '\n', 0);

    Receive(kGoodSentence);
    EXPECT_EQ(Frames(), FrameList({kGoodSentence}));
    EXPECT_EQ(record_->error.load(), 0);

    // Nobody listens for receive errors: the bad sentence is not delivered.
    Receive(kBadSentence + kGoodSentence);
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_GPS);
    EXPECT_EQ(Frames(), FrameList({kGoodSentence}));

    // Somebody listens: told, and the sentence is delivered all the same.
    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    Receive(kBadSentence);
    EXPECT_EQ(Frames(), FrameList({kBadSentence}));
    EXPECT_EQ(ReceiveErrorsReported(), 1u);
    EXPECT_EQ(CallLog::calls().back().error, TIDECOMM_ERR_GPS);
}

TEST_F(FramingTest, RondoFramesAreDescrambledOrRejected) {
    ASSERT_EQ(TideComm_SetReceiveCheck(kPort, 2), 0);
    Characters('$', '\n', 0);

    Receive(kRondoC + "\r\n");
    ASSERT_EQ(TakeAnnouncement().size(), kRondoC.size() + 2);
    EXPECT_STREQ(record_->frameBuffer, "$C12AB3F") << "descrambled text ends at the check byte";
    Release();

    std::string corrupt = kRondoC + "\r\n";
    corrupt[3] = '6';
    Receive(corrupt + kRondoC + "\r\n");
    EXPECT_EQ(record_->error.load(), TIDECOMM_ERR_RONDO);
    ASSERT_EQ(TakeAnnouncement().size(), kRondoC.size() + 2) << "only the sound frame comes";
    EXPECT_STREQ(record_->frameBuffer, "$C12AB3F");
    Release();

    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    Receive(corrupt);
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_EQ(ReceiveErrorsReported(), 1u);
}

TEST_F(FramingTest, FullRingKeepsWhatItHoldsAndReportsTheOverrun) {
    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    Allocate(8, 16);
    Receive("W");
    ASSERT_EQ(TakeAnnouncement(), "W");
    Receive("01234567");
    EXPECT_EQ(ReceiveErrorsReported(), 0u);
    Receive("89abcdef");  // one byte more than the ring's 15 can hold
    EXPECT_EQ(record_->error.load(), CE_RXOVER);
    EXPECT_EQ(ReceiveErrorsReported(), 1u);
    EXPECT_EQ(RingFill(), 15);
    EXPECT_EQ(TideComm_GetDroppedCount(kPort), 1);
    Release();
    std::string all;
    for (const std::string& frame : Frames()) {
        all += frame;
    }
    EXPECT_EQ(all, "0123456789abcde") << "older bytes overwritten or reordered";
}

TEST_F(FramingTest, ReadThreadStopsOnAnEmptyReadOrAFailedAnnouncement) {
    record_->bytesRead = 0;
    EXPECT_EQ(HandleReadData(record_), 0);

    record_->dispatchThreadId = 0x7ffffff0;  // no such thread
    EXPECT_EQ(Receive("AB"), 0);
    EXPECT_EQ(record_->receivePending.load(), 0);
}

TEST_F(FramingTest, InputSettingsAreRefusedWhileOpen) {
    ASSERT_EQ(record_->inBufferSize, 4096);
    EXPECT_EQ(TideComm_SetInputLen(kPort, 2048), 1) << "not below half the ring";
    EXPECT_EQ(TideComm_SetInputLen(kPort, 0), 1);
    EXPECT_EQ(TideComm_SetInputLen(kPort, 2047), 0);
    EXPECT_EQ(TideComm_GetInputLen(kPort), 2047);
    EXPECT_EQ(TideComm_GetInputLen(11), -1);
    EXPECT_EQ(TideComm_SetInputLen(11, 100), 1);

    EXPECT_EQ(TideComm_SetInBuffersize(kPort, 3000), 1) << "not a power of two";
    EXPECT_EQ(TideComm_SetInBuffersize(kPort, 8192), 0);
    EXPECT_EQ(TideComm_SetRThreshold(kPort, 5), 0);
    EXPECT_EQ(TideComm_GetRThreshold(kPort), 5);
    EXPECT_EQ(TideComm_GetRThreshold(0), 0);

    int value = -7;
    EXPECT_EQ(TideComm_SetInputMode(kPort, 1), 1);
    EXPECT_EQ(TideComm_GetInputMode(kPort, &value), 1);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(TideComm_SetReceiveCheck(kPort, 2), 0);
    EXPECT_EQ(TideComm_GetReceiveCheck(kPort, &value), 0);
    EXPECT_EQ(value, 2);

    // Open: sizes and checks stay as they are; the input mode still changes.
    int dummy = 0;
    record_->commHandle = &dummy;
    EXPECT_EQ(TideComm_SetInputLen(kPort, 100), 1);
    EXPECT_EQ(TideComm_SetInBuffersize(kPort, 1024), 1);
    EXPECT_EQ(TideComm_SetRThreshold(kPort, 1), 1);
    EXPECT_EQ(TideComm_SetReceiveCheck(kPort, 0), 1);
    value = -7;
    EXPECT_EQ(TideComm_GetReceiveCheck(kPort, &value), 1);
    EXPECT_EQ(value, -7);
    EXPECT_EQ(TideComm_SetInputMode(kPort, 0), 1);
    record_->commHandle = nullptr;
    EXPECT_EQ(TideComm_GetInputLen(kPort), 2047);
    EXPECT_EQ(record_->inBufferSize, 8192);
    EXPECT_EQ(TideComm_GetRThreshold(kPort), 5);
    EXPECT_EQ(record_->receiveCheck.load(), 2);
    EXPECT_EQ(record_->inputMode.load(), 0);
}

// ---- The frame checks on their own ------------------------------------------------------------

// Runs a check on `bytes` placed in a frame buffer as the framing leaves it (NUL after it).
struct CheckedFrame {
    int result;
    std::string frame;  // the buffer afterwards, up to its first NUL
};

CheckedFrame RunCheck(int (*check)(TideCommPortRecord*, int), const std::string& bytes) {
    TideCommPortRecord record{};
    std::vector<char> buffer(bytes.begin(), bytes.end());
    buffer.push_back(0);
    record.frameBuffer = buffer.data();
    const int result = check(&record, static_cast<int>(bytes.size()));
    return {result, std::string(buffer.data())};
}

int Gps(const std::string& bytes) {
    return RunCheck(TideCommGPSReceiveCheck, bytes).result;
}

TEST(GpsCheck, AcceptsTheNmeaChecksumBeforeOneOrTwoEndCharacters) {
    const std::string body = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
    EXPECT_EQ(Gps(body + "\r\n"), 1);
    EXPECT_EQ(Gps(body + "\n"), 1);
    EXPECT_EQ(Gps("$GPTXT,8*5B\r\n"), 1);
    EXPECT_EQ(Gps("$GPTXT,8*5b\r\n"), 1) << "lower-case digits read too";
    EXPECT_EQ(Gps("$*00\n"), 1) << "an empty sentence sums to 0";

    EXPECT_EQ(Gps("$GPTXT,8*5A\r\n"), 0);
    EXPECT_EQ(Gps("#GPTXT,8*5B\r\n"), 0) << "must start with $";
    EXPECT_EQ(Gps(body), 0) << "star not where the end characters put it";
    EXPECT_EQ(Gps("$GPTXT,8-5B\r\n"), 0);
    EXPECT_EQ(Gps("$*0"), 0);
    EXPECT_EQ(Gps("$"), 0);
}

// Scrambles Rondo text the way a sender does: each character XOR the low nibble of the
// scramble key, the sum over plain text XOR the sum key, closed by 0x80 + sum.
std::string RondoFrame(const std::string& text) {
    const char* sumKey = "QuillFen";
    const char* scrambleKey = "20740316";
    std::string frame = "$";
    unsigned int sum = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto plain = static_cast<unsigned char>(text[k]);
        frame += static_cast<char>(plain ^ (scrambleKey[k % 8] & 0x0F));
        sum ^= plain ^ static_cast<unsigned char>(sumKey[k % 8]);
    }
    frame += static_cast<char>(0x80 + sum);
    return frame;
}

TEST(RondoCheck, DescramblesSoundFramesInPlace) {
    ASSERT_EQ(RondoFrame("C12AB3F"), kRondoC);
    CheckedFrame checked = RunCheck(TideCommRondoReceiveCheck, kRondoC + "\r\n");
    EXPECT_EQ(checked.result, 1);
    EXPECT_EQ(checked.frame, "$C12AB3F");

    const std::string time = std::string("$V0752922851") + '\x9e';
    ASSERT_EQ(RondoFrame("T0012:34:56"), time);
    checked = RunCheck(TideCommRondoReceiveCheck, time);
    EXPECT_EQ(checked.result, 1);
    EXPECT_EQ(checked.frame, "$T0012:34:56");

    checked = RunCheck(TideCommRondoReceiveCheck, RondoFrame("AX123456789"));
    EXPECT_EQ(checked.result, 1);
    EXPECT_EQ(checked.frame, "$A0123456789") << "X in the first text position reads as 0";

    // Control characters inside are neither counted nor summed.
    std::string withBreak = RondoFrame("W0123AB");
    withBreak.insert(8, "\r");
    checked = RunCheck(TideCommRondoReceiveCheck, withBreak);
    EXPECT_EQ(checked.result, 1);
    EXPECT_EQ(checked.frame, "$W0123AB\r");

    for (const char* text : {"F00000F", "K123456", "R000000", "t999999", "N0123456789"}) {
        EXPECT_EQ(RunCheck(TideCommRondoReceiveCheck, RondoFrame(text)).result, 1) << text;
    }
}

TEST(RondoCheck, RejectsWrongSumsLengthsAndCharacters) {
    std::string wrongSum = kRondoC;
    wrongSum.back() = static_cast<char>(wrongSum.back() ^ 1);
    EXPECT_EQ(RunCheck(TideCommRondoReceiveCheck, wrongSum).result, 0);
    EXPECT_EQ(RunCheck(TideCommRondoReceiveCheck, kRondoC.substr(0, kRondoC.size() - 1)).result, 0)
        << "no check byte";
    std::string noDollar = kRondoC;
    noDollar[0] = '#';
    EXPECT_EQ(RunCheck(TideCommRondoReceiveCheck, noDollar).result, 0);

    for (const char* text : {
             "C12AB3",       // 6 characters where C needs 7
             "C12AB3F0",     // 8
             "A012345678",   // 10 where A needs 11
             "T0012:34-56",  // the two separators differ
             "T0012:34:5",   // too short for a time
             "C12aB3F",      // lower-case letter
             "C12:B3F",      // ':' only in a time
             "Z123456",      // unknown type
         }) {
        EXPECT_EQ(RunCheck(TideCommRondoReceiveCheck, RondoFrame(text)).result, 0) << text;
    }
    // The last text character is not among those checked.
    EXPECT_EQ(RunCheck(TideCommRondoReceiveCheck, RondoFrame("C12AB3z")).result, 1);
}

}  // namespace
