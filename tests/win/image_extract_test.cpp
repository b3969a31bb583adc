// Page capture against the stand-in extractor: the calls, their values and order, and the clean-up.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "render/bitmap_object.h"
#include "render/image_extract.h"
#include "tools/standin/standin_control.h"
#include "win/com_error.h"

namespace {

using standin::Event;
using standin::Mode;
using zelnar::BitmapObject;
using zelnar::PixelFormat;

standin::Record StandinRecord() {
  standin::Record record;
  StandinGetRecord(&record);
  return record;
}

// The events that the capture causes, without COM's own queries.
std::vector<Event> Events() {
  const standin::Record record = StandinRecord();
  std::vector<Event> events;
  for (int i = 0; i < std::min(record.eventCount, standin::kMaxEvents); ++i)
    if (record.events[i] != Event::QueryOther) events.push_back(record.events[i]);
  return events;
}

void Prepare(BitmapObject& bitmap, int width, int height) {
  bitmap.SetWidth(width);
  bitmap.SetHeight(height);
  bitmap.SetBits24();
}

class Capture : public testing::Test {
 protected:
  void TearDown() override {
    const standin::Record record = StandinRecord();
    EXPECT_EQ(record.liveObjects, 0);
    EXPECT_EQ(record.releasesOutsideApartment, 0) << "a reference outlived the apartment";
    StandinSetMode(Mode::Normal);
  }
};

TEST_F(Capture, CallsTheExtractorInOrderAndReleasesEverything) {
  StandinSetMode(Mode::Pattern);
  BitmapObject bitmap;
  Prepare(bitmap, 30, 20);
  EXPECT_TRUE(zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0x12345678));
  const std::vector<Event> expected = {Event::QueryPersistFile,    Event::QueryExtractImage,  Event::Load,
                                       Event::GetLocation,         Event::Extract,            Event::ReleaseExtractImage,
                                       Event::ReleasePersistFile,  Event::ReleaseUnknown,     Event::Destroyed};
  EXPECT_EQ(Events(), expected);
  const standin::Record record = StandinRecord();
  EXPECT_EQ(record.flags, 0x12345678u);
  EXPECT_EQ(record.size.cx, 30);
  EXPECT_EQ(record.size.cy, 20);
  EXPECT_EQ(std::wstring(record.path), L"Z:\\page.htm");
  EXPECT_EQ(bitmap.Handle(), record.lastBitmap);
}

TEST_F(Capture, RefusedInterfacesRaiseAfterReleasingWhatWasObtained) {
  struct Case { Mode mode; std::vector<Event> events; };
  const Case cases[] = {
      {Mode::NoPersistFile, {Event::QueryPersistFile, Event::ReleaseUnknown, Event::Destroyed}},
      {Mode::NoExtractImage,
       {Event::QueryPersistFile, Event::QueryExtractImage, Event::ReleasePersistFile, Event::ReleaseUnknown,
        Event::Destroyed}},
      {Mode::ExtractImageSFalse,
       {Event::QueryPersistFile, Event::QueryExtractImage, Event::ReleaseExtractImage, Event::ReleasePersistFile,
        Event::ReleaseUnknown, Event::Destroyed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode));
    StandinSetMode(c.mode);
    BitmapObject bitmap;
    Prepare(bitmap, 8, 8);
    EXPECT_THROW(zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0), zelnar::InterfaceNotSupportedError);
    EXPECT_EQ(Events(), c.events);
    EXPECT_EQ(StandinRecord().liveObjects, 0);
  }
  StandinSetMode(Mode::CreateFails);
  BitmapObject bitmap;
  try {
    zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0);
    ADD_FAILURE() << "no error raised";
  } catch (const zelnar::ComError& error) {
    EXPECT_EQ(error.Result(), E_OUTOFMEMORY);
  }
}

TEST_F(Capture, AFailedExtractLeavesTheBitmapAsItWas) {
  for (Mode mode : {Mode::ExtractFails, Mode::NullBitmap}) {
    SCOPED_TRACE(int(mode));
    StandinSetMode(mode);
    BitmapObject bitmap;
    Prepare(bitmap, 10, 7);
    EXPECT_FALSE(zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0));
    EXPECT_EQ(bitmap.Width(), 10);
    EXPECT_EQ(bitmap.Height(), 7);
    EXPECT_EQ(bitmap.Format(), PixelFormat::Bits24);
    EXPECT_EQ(bitmap.Handle(), nullptr);
  }
  StandinSetMode(Mode::ExtractSFalse);
  BitmapObject bitmap;
  Prepare(bitmap, 10, 7);
  EXPECT_TRUE(zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0)) << "S_FALSE is a success";
  EXPECT_EQ(bitmap.Handle(), StandinRecord().lastBitmap);
}

TEST_F(Capture, AsksForTheDepthOfTheBitmapsLayout) {
  struct Case { int bits; DWORD compression; DWORD masks[3]; DWORD depth; };
  const Case cases[] = {
      {1, BI_RGB, {}, 1},   {4, BI_RGB, {}, 4},   {8, BI_RGB, {}, 8},
      {16, BI_RGB, {}, 16}, {16, BI_BITFIELDS, {0xF800, 0x7E0, 0x1F}, 16},
      {24, BI_RGB, {}, 24}, {32, BI_RGB, {}, 32}, {32, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}, 24},
  };
  StandinSetMode(Mode::ExtractFails);  // keeps the bitmap under test
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << "/" << c.compression);
    struct {
      BITMAPINFOHEADER header;
      DWORD extra[256];
    } info{};
    info.header = {sizeof info.header, 4, 4, 1, WORD(c.bits), c.compression, 0, 0, 0, 0, 0};
    std::copy(c.masks, c.masks + 3, info.extra);
    void* bits = nullptr;
    BitmapObject bitmap;
    bitmap.TakeOver(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0));
    EXPECT_FALSE(zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0));
    EXPECT_EQ(StandinRecord().depth, c.depth);
  }
  HDC screen = GetDC(nullptr);
  BitmapObject deviceDependent;
  deviceDependent.TakeOver(CreateCompatibleBitmap(screen, 4, 4));
  ReleaseDC(nullptr, screen);
  EXPECT_FALSE(zelnar::ExtractImage(L"Z:\\page.htm", deviceDependent, 0));
  EXPECT_EQ(StandinRecord().depth, 24u);
}

TEST_F(Capture, JoinsAnExistingApartmentAndLeavesItJoined) {
  StandinSetMode(Mode::Pattern);
  HRESULT before = E_UNEXPECTED, after = E_UNEXPECTED;
  bool captured = false;
  std::thread([&] {
    before = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BitmapObject bitmap;
    Prepare(bitmap, 4, 4);
    captured = zelnar::ExtractImage(L"Z:\\page.htm", bitmap, 0);
    after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CoUninitialize();
    CoUninitialize();
    // A second uninitialisation inside the capture would have left the thread outside COM here.
  }).join();
  EXPECT_EQ(before, S_OK);
  EXPECT_TRUE(captured);
  EXPECT_EQ(after, S_FALSE);
}

}  // namespace
