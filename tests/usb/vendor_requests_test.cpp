// Every vendor request through real libusb against the emulated H8 under umockdev: the setup
// packet and data on the wire, what the caller gets back, and the failure rules.

#include "core/vendor_requests.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "captured_diagnostics.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_h8.h"
#include "manual_clock.h"
#include "platform/libusb_transport.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "umockdev_main.h"

namespace h8::test {
namespace {

using emulated::EmulatedH8;

class VendorRequestsTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        umockdevBed().plug(1, &model_);
        ASSERT_TRUE(startUSBMonitoring(transport_, usb_));
        ASSERT_TRUE(usb_.isAttached());
        model_.clearTransfers();
        usb_.setTraceSink([this](const std::string& line) { trace_.push_back(line); });
    }
    void TearDown() override {
        usb_.setTraceSink(nullptr);
        stopUSBMonitoring();
        umockdevBed().unplug(1);
    }

    // The one transfer the device saw, in trace form, and the line the program traced.
    std::string deviceSaw() {
        const auto transfers = model_.transfers();
        EXPECT_EQ(transfers.size(), 1u);
        model_.clearTransfers();
        if (transfers.empty()) return {};
        const auto& t = transfers.front();
        return formatControlTrace(t.setup, t.data.data(), t.status);
    }
    std::string traced() {
        EXPECT_EQ(trace_.size(), 1u);
        std::string line = trace_.empty() ? std::string() : trace_.back();
        trace_.clear();
        return line;
    }
    // Checks that the device saw exactly `expected` and that the trace shows the same.
    void expectWire(const std::string& expected) {
        EXPECT_EQ(deviceSaw(), expected);
        EXPECT_EQ(traced(), expected);
    }

    TempEnv env_;
    EmulatedH8 model_;
    LibusbTransport transport_;
    ManualClock clock_;  // the burst gate's time
    UsbInterface usb_{clock_};
    const UsbInterface::Installation installed_{usb_};
    std::vector<std::string> trace_;
};

TEST_F(VendorRequestsTest, WritesSendTheDocumentedPackets) {
    EXPECT_TRUE(NorvaltUSBAudioSetVolume(0, 3, 0xFF));
    expectWire("usb> 40 03 03 00 00 00 01 00 | ff");
    EXPECT_TRUE(NorvaltUSBAudioSetMute(1, 2, 1));
    expectWire("usb> 40 03 02 01 01 00 01 00 | 01");
    EXPECT_TRUE(NorvaltUSBAudioSet48V(1, 1));
    expectWire("usb> 40 03 01 00 02 00 01 00 | 01");
    EXPECT_TRUE(NorvaltUSBAudioSetBTEnable(1));
    expectWire("usb> 40 03 01 00 17 00 01 00 | 01");
    EXPECT_TRUE(NorvaltUSBAudioSet4DBu(2, 1));
    expectWire("usb> 40 03 02 00 04 00 01 00 | 01");
    EXPECT_TRUE(NorvaltUSBAudioSetMixer(9, 11, 128));  // wValue 9 + 132 = 141
    expectWire("usb> 40 03 8d 00 1e 00 01 00 | 80");
    EXPECT_TRUE(NorvaltUSBAudioSetBackupState(1));  // the write addresses wValue 1
    expectWire("usb> 40 03 01 00 66 00 01 00 | 01");

    const emulated::H8State s = model_.state();
    EXPECT_EQ(s.volumeWire.at(0x0003), 0xFF);
    EXPECT_EQ(s.mute.at(0x0102), 1);
    EXPECT_EQ(s.switchBits & 0x02, 0x02);  // input 1 48 V
    EXPECT_EQ(s.btEnable, 1);
    EXPECT_EQ(s.fourDbu.at(2), 1);
    EXPECT_EQ(s.mixer[141], 0x80);
    EXPECT_EQ(s.backupState, 1);
}

TEST_F(VendorRequestsTest, ReadsSendTheDocumentedPacketsAndDecodeTheAnswer) {
    emulated::H8State s = model_.state();
    s.volumeWire[0x0003] = 0x80;
    s.mute[0x0001] = 1;
    s.switchBits = 0x01;  // input 2 48 V
    s.otgPlugged = true;
    s.btEnable = 1;
    s.btStatus = 3;
    s.btMac = 0xBEEF;
    s.fourDbu[1] = 1;
    s.gainCode = {0x11, 0x22};
    s.headphoneLevelCode = 0x33;
    s.mixer[0] = 0x90;
    s.block1F[0] = 0xA1;
    s.block1F[23] = 0xB2;
    s.backupState = 7;
    model_.setState(s);

    uint8_t byte = 0;
    EXPECT_TRUE(NorvaltUSBAudioGetVolume(0, 3, byte));
    expectWire("usb< c0 00 03 00 00 00 01 00 | 80");
    EXPECT_EQ(byte, 0x7F);  // the complement of the byte read
    EXPECT_TRUE(NorvaltUSBAudioGetMute(0, 1, byte));
    expectWire("usb< c0 00 01 00 01 00 01 00 | 01");
    EXPECT_EQ(byte, 1);
    EXPECT_TRUE(NorvaltUSBAudioGet48V(2, byte));
    expectWire("usb< c0 00 02 00 02 00 01 00 | 01");
    EXPECT_EQ(byte, 1);
    EXPECT_TRUE(NorvaltUSBAudioGetOTG(1, byte));
    expectWire("usb< c0 00 01 00 67 00 01 00 | 01");
    EXPECT_EQ(byte, 1);
    EXPECT_TRUE(NorvaltUSBAudioGetBTEnable(byte));
    expectWire("usb< c0 00 01 00 17 00 01 00 | 01");
    EXPECT_TRUE(NorvaltUSBAudioGetBTA2DPStatus(byte));
    expectWire("usb< c0 00 01 00 14 00 01 00 | 03");
    EXPECT_EQ(byte, 3);
    uint16_t mac = 0;
    EXPECT_TRUE(NorvaltUSBAudioGetBTMac(mac));
    expectWire("usb< c0 00 01 00 16 00 02 00 | ef be");
    EXPECT_EQ(mac, 0xBEEF);  // little-endian
    EXPECT_TRUE(NorvaltUSBAudioGet4DBu(1, byte));
    expectWire("usb< c0 00 01 00 04 00 01 00 | 01");
    uint32_t serial = 0;
    EXPECT_TRUE(NorvaltUSBAudioGetSN(serial));
    expectWire("usb< c0 00 00 00 03 00 04 00 | 12 34 ab cd");
    uint32_t hw = 0;
    EXPECT_TRUE(NorvaltUSBAudioGetHWState(hw));
    expectWire("usb< c0 00 00 00 79 00 04 00 | 01 11 22 33");
    EXPECT_TRUE(NorvaltUSBAudioGetMixer(0, 0, byte));
    expectWire("usb< c0 00 00 00 1e 00 01 00 | 90");
    EXPECT_EQ(byte, 0x90);
    std::array<uint8_t, 24> block{};
    EXPECT_TRUE(NorvaltUSBAudioGetBlock1F(block));
    EXPECT_EQ(traced().substr(0, 30), "usb< c0 00 00 00 1f 00 18 00 |");
    model_.clearTransfers();
    EXPECT_EQ(block[0], 0xA1);
    EXPECT_EQ(block[23], 0xB2);
    EXPECT_TRUE(NorvaltUSBAudioGetBackupState(byte));  // the read addresses wValue 0
    expectWire("usb< c0 00 00 00 66 00 01 00 | 07");
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(NorvaltUSBAudioGetFirmwareVersion(), "102");
    EXPECT_EQ(traced().substr(0, 30), "usb< 80 06 00 01 00 00 12 00 |");
}

// Every read, for the failure cases: each sets its result to a sentinel first and reports
// whether the sentinel survived.
struct Read {
    const char* errorLine;
    std::function<bool()> callLeavesResultUnchanged;
};

std::vector<Read> allReads() {
    const auto byteRead = [](auto call) {
        return [call] {
            uint8_t v = 0x5A;
            call(v);
            return v == 0x5A;
        };
    };
    return {
        {"NorvaltUSBAudioGetVolume do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGetVolume(0, 3, v); })},
        {"NorvaltUSBAudioGetMute do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGetMute(0, 1, v); })},
        {"NorvaltUSBAudioGet48V do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGet48V(1, v); })},
        {"NorvaltUSBAudioGetOTG do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGetOTG(1, v); })},
        {"NorvaltUSBAudioGetBTEnable do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGetBTEnable(v); })},
        {"NorvaltUSBAudioGetBTA2DPStatus do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGetBTA2DPStatus(v); })},
        {"NorvaltUSBAudioGet4DBu do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGet4DBu(1, v); })},
        {"do request error", byteRead([](uint8_t& v) { NorvaltUSBAudioGetMixer(1, 1, v); })},
        {"NorvaltUSBAudioGetBackupState do request error",
         byteRead([](uint8_t& v) { NorvaltUSBAudioGetBackupState(v); })},
        {"NorvaltUSBAudioGetBTMac do request error",
         [] {
             uint16_t v = 0x5A5A;
             NorvaltUSBAudioGetBTMac(v);
             return v == 0x5A5A;
         }},
        {"NorvaltUSBAudioGetSN do request error",
         [] {
             uint32_t v = 0x5A5A5A5A;
             NorvaltUSBAudioGetSN(v);
             return v == 0x5A5A5A5A;
         }},
        {"NorvaltUSBAudioGetHWState do request error",
         [] {
             uint32_t v = 0x5A5A5A5A;
             NorvaltUSBAudioGetHWState(v);
             return v == 0x5A5A5A5A;
         }},
        {"do request error",
         [] {
             std::array<uint8_t, 24> v;
             v.fill(0x5A);
             NorvaltUSBAudioGetBlock1F(v);
             return v[0] == 0x5A && v[23] == 0x5A;
         }},
    };
}

TEST_F(VendorRequestsTest, FailedReadsLeaveTheResultAndPrintTheirLine) {
    model_.setFault(EmulatedH8::Fault::Stall);
    for (const Read& read : allReads()) {
        CapturedDiagnostics diag;
        EXPECT_TRUE(read.callLeavesResultUnchanged()) << read.errorLine;
        EXPECT_EQ(diag.lines(), QStringList{read.errorLine});
    }
    // The trace names the failure.
    trace_.clear();
    uint8_t v = 0;
    NorvaltUSBAudioGetMute(0, 1, v);
    EXPECT_EQ(traced(), "usb! c0 00 01 00 01 00 01 00 | LIBUSB_ERROR_PIPE");
}

TEST_F(VendorRequestsTest, TimedOutRequestSilencesTheRestOfItsBurstThenTheDeviceRecovers) {
    model_.setFault(EmulatedH8::Fault::Timeout);
    CapturedDiagnostics diag;
    uint8_t v = 0x5A;
    EXPECT_FALSE(NorvaltUSBAudioGetMute(0, 1, v));
    EXPECT_EQ(v, 0x5A);
    EXPECT_EQ(traced(), "usb! c0 00 01 00 01 00 01 00 | LIBUSB_ERROR_TIMEOUT");
    // The requests that follow at once fail without reaching the interface and without a
    // second wait (before, each waited its own second), but still print their failure line.
    model_.setFault(EmulatedH8::Fault::None);
    const unsigned urbs = umockdevBed().urbCount(1);
    QElapsedTimer burst;
    burst.start();
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(NorvaltUSBAudioSetMute(0, 1, 1));
    EXPECT_LT(burst.elapsed(), 500);
    EXPECT_EQ(umockdevBed().urbCount(1), urbs);
    EXPECT_EQ(diag.lines().count("NorvaltUSBAudioSetMute do request error"), 20);
    // After a pause longer than the gap between the requests of one action, the next one goes.
    clock_.advance(std::chrono::milliseconds(kRequestBurstGapMs + 20));
    EXPECT_TRUE(NorvaltUSBAudioGetMute(0, 1, v));
    EXPECT_EQ(v, 0);
    EXPECT_EQ(umockdevBed().urbCount(1), urbs + 1);
}

TEST_F(VendorRequestsTest, WithoutAHandleNothingIsSentOrPrinted) {
    usb_.close();
    CapturedDiagnostics diag;
    for (const Read& read : allReads())
        EXPECT_TRUE(read.callLeavesResultUnchanged()) << read.errorLine;
    EXPECT_FALSE(NorvaltUSBAudioSetVolume(0, 3, 0xFF));
    EXPECT_FALSE(NorvaltUSBAudioSetMute(1, 1, 1));
    EXPECT_FALSE(NorvaltUSBAudioSet48V(1, 1));
    EXPECT_FALSE(NorvaltUSBAudioSetBTEnable(1));
    EXPECT_FALSE(NorvaltUSBAudioSet4DBu(1, 1));
    EXPECT_FALSE(NorvaltUSBAudioSetMixer(0, 0, 0x80));
    EXPECT_FALSE(NorvaltUSBAudioSetBackupState(1));
    EXPECT_EQ(NorvaltUSBAudioGetFirmwareVersion(), "4");
    EXPECT_TRUE(diag.lines().isEmpty());
    EXPECT_TRUE(trace_.empty());
    EXPECT_TRUE(model_.transfers().empty());
}

TEST_F(VendorRequestsTest, RequestsTheDeviceDoesNotKnowAreStalled) {
    // A read with the wrong length and an unknown register.
    uint8_t buffer[8] = {};
    EXPECT_EQ(sendControlRequest({0xC0, 0x00, 0x0000, 0x0079, 2}, buffer), kUsbErrorPipe);
    EXPECT_EQ(sendControlRequest({0xC0, 0x00, 0x0000, 0x0042, 1}, buffer), kUsbErrorPipe);
    EXPECT_EQ(sendControlRequest({0x40, 0x03, 0x0005, 0x0000, 1}, buffer),
              kUsbErrorPipe);  // no output 5
    // The pipe keeps working after a stall.
    uint8_t v = 0xEE;
    EXPECT_TRUE(NorvaltUSBAudioGetMute(0, 1, v));
}

}  // namespace
}  // namespace h8::test
