#include <gtest/gtest.h>

#include <ftdi.h>

#include <string>
#include <vector>

#include "cable/UsbBlasterCable.h"

namespace tunlet {
namespace {

// A stand-in for libftdi that records the calls the back end makes.
struct FakeFtdi {
    int openResult = 0;
    int bitmodeResult = 0;
    std::vector<int> writeResults;  // one per write; missing: everything written
    // One per read call: n > 0 hands back n bytes (counting up from 1), 0 only status
    // bytes came, negative a failure; missing: libusb's time-out (-7).
    std::vector<int> readResults;
    int news = 0, frees = 0, closes = 0, writes = 0, reads = 0, purges = 0;
    unsigned char next = 1;
    int vendor = 0, product = 0;
    std::string description;
    int bitmodeMask = -1, bitmodeMode = -1, latency = -1;
    unsigned chunksize = 0;
    ftdi_context ctx{};
};
FakeFtdi* g_fake = nullptr;

const FtdiApi kFakeApi{
    [] {
        ++g_fake->news;
        return &g_fake->ctx;
    },
    [](ftdi_context*) { ++g_fake->frees; },
    [](ftdi_context*, int v, int p, const char* d, const char*) {
        g_fake->vendor = v;
        g_fake->product = p;
        g_fake->description = d;
        return g_fake->openResult;
    },
    [](ftdi_context*) {
        ++g_fake->closes;
        return 0;
    },
    [](ftdi_context*, unsigned char mask, unsigned char mode) {
        g_fake->bitmodeMask = mask;
        g_fake->bitmodeMode = mode;
        return g_fake->bitmodeResult;
    },
    [](ftdi_context*, unsigned char l) {
        g_fake->latency = l;
        return 0;
    },
    [](ftdi_context*, const unsigned char*, int size) {
        const std::size_t i = static_cast<std::size_t>(g_fake->writes++);
        return i < g_fake->writeResults.size() ? g_fake->writeResults[i] : size;
    },
    [](ftdi_context*, unsigned char* buffer, int size) {
        const std::size_t i = static_cast<std::size_t>(g_fake->reads++);
        const int n = i < g_fake->readResults.size() ? g_fake->readResults[i] : -7;
        for (int k = 0; k < n && k < size; ++k) buffer[k] = g_fake->next++;
        return n > size ? size : n;
    },
    [](ftdi_context*) {
        ++g_fake->purges;
        return 0;
    },
    [](ftdi_context*) { return "fake error"; },
    [](ftdi_context*, unsigned int n) {
        g_fake->chunksize = n;
        return 0;
    },
    [](ftdi_context*, int) { return 0; },
    [](ftdi_context*, char*, int) { return 0; },
    [](ftdi_context*, int, int, const char*, std::vector<std::string>*) { return 0; },
};

class UsbBlasterCableTest : public testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake;
        SetCableBackend(std::make_shared<UsbBlasterCable>(kFakeApi));
    }
    void TearDown() override {
        SetCableBackend(nullptr);
        g_fake = nullptr;
    }
    FakeFtdi fake;
};

TEST_F(UsbBlasterCableTest, OpenFailuresKeepTheirReason) {
    struct Case {
        int code;
        FT_STATUS status;
        const char* reasonPart;
    };
    const Case cases[] = {
        {-3, FT_DEVICE_NOT_FOUND, "not plugged in"},
        {-4, FT_DEVICE_NOT_OPENED, "udev rule"},
        {-5, FT_DEVICE_NOT_OPENED, "busy"},
        {-8, FT_DEVICE_NOT_OPENED, "cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        fake = FakeFtdi{};
        fake.openResult = c.code;
        FT_HANDLE h = reinterpret_cast<FT_HANDLE>(0x1);
        EXPECT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), c.status);
        EXPECT_EQ(h, nullptr);
        EXPECT_NE(CableOpenFailure().find(c.reasonPart), std::string::npos) << CableOpenFailure();
        EXPECT_NE(CableOpenFailure().find("fake error"), std::string::npos);
        EXPECT_EQ(fake.news, 1);
        EXPECT_EQ(fake.frees, 1);
        EXPECT_EQ(fake.closes, 0);
    }
}

TEST_F(UsbBlasterCableTest, OpensByIdsAndDescriptionAndWritesNothingOfItsOwn) {
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(fake.vendor, 0x09FB);
    EXPECT_EQ(fake.product, 0x6001);
    EXPECT_EQ(fake.description, "USB-Blaster");
    EXPECT_EQ(fake.bitmodeMode, BITMODE_RESET);
    EXPECT_EQ(fake.latency, 2);
    EXPECT_EQ(fake.purges, 1);  // nothing stale from an earlier user is read
    EXPECT_EQ(fake.chunksize, kUsbTransferBytes);
    EXPECT_EQ(fake.writes, 0);
    EXPECT_TRUE(CableCanRead(h));
    EXPECT_EQ(CableOpenFailure(), "");
    EXPECT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.frees, 1);
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);  // a closed handle is gone
}

TEST_F(UsbBlasterCableTest, WriteResults) {
    fake.writeResults = {8192, 100, -1, 0};
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    const std::vector<unsigned char> data(8192, 0x81);
    struct Expect {
        FT_STATUS status;
        DWORD written;
    };
    const Expect expected[] = {{FT_OK, 8192}, {FT_IO_ERROR, 100}, {FT_IO_ERROR, 0}, {FT_IO_ERROR, 0}, {FT_OK, 8192}};
    for (const auto& e : expected) {
        DWORD written = 12345;
        EXPECT_EQ(FT_Write(h, data.data(), 8192, &written), e.status);
        EXPECT_EQ(written, e.written);
    }
    FT_Close(h);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.frees, 1);
}

TEST_F(UsbBlasterCableTest, SetupFailureClosesAndFrees) {
    fake.bitmodeResult = -1;
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.frees, 1);
}

// Reads are asked again while only status bytes come, until the answer is whole; a
// cable that stops answering ends the wait with what came; a failure is an error.
TEST_F(UsbBlasterCableTest, ReadsLoopUntilTheAnswerIsWhole) {
    struct Case {
        std::vector<int> results;
        FT_STATUS status;
        DWORD got;
        int calls;
    };
    const Case cases[] = {
        {{0, 0, 3, 0, 2}, FT_OK, 5, 5},
        {{5}, FT_OK, 5, 1},
        {{2, -4}, FT_IO_ERROR, 2, 2},
        {{2}, FT_OK, 2, -1},  // then time-outs until the wait is over
    };
    SetCableBackend(std::make_shared<UsbBlasterCable>(kFakeApi, kDefaultWriteTimeoutMs, 20));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.results.size());
        fake = FakeFtdi{};
        fake.readResults = c.results;
        FT_HANDLE h = nullptr;
        ASSERT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
        unsigned char buffer[5] = {};
        DWORD got = 99;
        EXPECT_EQ(FT_Read(h, buffer, 5, &got), c.status);
        EXPECT_EQ(got, c.got);
        if (c.calls >= 0) {
            EXPECT_EQ(fake.reads, c.calls);
        }
        for (DWORD i = 0; i < got; ++i) EXPECT_EQ(buffer[i], i + 1);  // in order, none lost
        FT_Close(h);
    }
}

TEST(CableLayer, WithoutBackEndNothingOpens) {
    SetCableBackend(nullptr);
    FT_HANDLE h = nullptr;
    EXPECT_NE(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(h, nullptr);
    EXPECT_NE(FT_OpenEx("USB-Blaster", 1, &h), FT_OK);
    DWORD written = 5;
    EXPECT_EQ(FT_Write(nullptr, "x", 1, &written), FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(FT_Close(nullptr), FT_INVALID_HANDLE);
    unsigned char b = 0;
    DWORD got = 5;
    EXPECT_EQ(FT_Read(nullptr, &b, 1, &got), FT_INVALID_HANDLE);
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(CableCanRead(nullptr));
}

}  // namespace
}  // namespace tunlet
