// Engine streams, their error helpers and the stream form of typed values.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSStream.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/types/ValueTestSupport.h"

namespace {

std::string TempPath(const char* tag) {
  return ::testing::TempDir() + "abs_stream_" + tag + "_" + std::to_string(::getpid());
}

std::string Contents(const TABSMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

}  // namespace

TEST(MemoryStream, WritesReadsSeeksAndFillsGapsWithZeros) {
  TABSMemoryStream s;
  EXPECT_EQ(s.Write("abc", 3), 3);
  EXPECT_EQ(s.Position(), 3);
  s.SetPosition(5);
  EXPECT_EQ(s.Write("de", 2), 2);
  EXPECT_EQ(s.Size(), 7);
  EXPECT_EQ(Contents(s), std::string("abc\0\0de", 7));
  s.Seek(-2, TABSSeekOrigin::End);
  char out[8] = {};
  EXPECT_EQ(s.Read(out, 8), 2);
  EXPECT_STREQ(out, "de");
  EXPECT_EQ(s.Read(out, 8), 0);
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(Contents(s), "ab");
  s.SetSize(4);
  EXPECT_EQ(Contents(s), std::string("ab\0\0", 4));
  EXPECT_ENGINE_ERROR(s.Seek(-5, TABSSeekOrigin::Current), 30470,
                      "Invalid stream position or size: -5 - Native error: 30470");
  EXPECT_ENGINE_ERROR(s.SetSize(-1), 30470,
                      "Invalid stream position or size: -1 - Native error: 30470");
  EXPECT_ENGINE_ERROR(s.Write(nullptr, 1), 30473, "Nil pointer occured - Native error: 30473");
  EXPECT_ENGINE_ERROR(s.Read(nullptr, 1), 30473, "Nil pointer occured - Native error: 30473");
  EXPECT_EQ(s.Write(nullptr, 0), 0);
  // Many small writes keep the bytes in order across growth.
  TABSMemoryStream big;
  for (int i = 0; i < 10000; ++i) {
    const unsigned char b = static_cast<unsigned char>(i);
    ASSERT_EQ(big.Write(&b, 1), 1);
  }
  EXPECT_EQ(static_cast<const unsigned char*>(big.Memory())[9999],
            static_cast<unsigned char>(9999));
  big.Clear();
  EXPECT_EQ(big.Size(), 0);
  EXPECT_EQ(big.Memory(), nullptr);
}

TEST(MemoryStream, HoldsItsBytesInEngineMemory) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  {
    TABSMemoryStream s;
    s.Write("x", 1);
    EXPECT_GT(EngineMemoryManager.AllocatedSize(), before);
  }
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
}

TEST(FileStream, WritesAndReadsAFile) {
  const std::string path = TempPath("rw");
  {
    TABSFileStream f(path, TABSFileStream::Mode::Create);
    EXPECT_EQ(f.Write("hello world", 11), 11);
    EXPECT_EQ(f.Size(), 11);
    f.SetSize(5);
    EXPECT_EQ(f.Position(), 5);
    f.Seek(0, TABSSeekOrigin::End);
    EXPECT_EQ(f.Write("!", 1), 1);
  }
  {
    TABSFileStream f(path, TABSFileStream::Mode::OpenRead);
    char out[16] = {};
    EXPECT_EQ(f.Read(out, 16), 6);
    EXPECT_STREQ(out, "hello!");
    // A read-only file cannot be written: the helper reports the short write.
    f.SetPosition(0);
    EXPECT_ENGINE_ERROR(WriteStreamBlock(f, "x", 1, 10179), 10179,
                        "Cannot write to stream. Position = 0, Stream size = 6, Block size = 1, "
                        "Bytes Write = 0 - Native error: 10179");
  }
  std::remove(path.c_str());
  const EABSException e = RaisedBy([&] { TABSFileStream f(path, TABSFileStream::Mode::OpenRead); });
  EXPECT_EQ(e.NativeError(), 30471);
  EXPECT_EQ(e.Message().rfind("Cannot open file '" + path + "': ", 0), 0u) << e.Message();
}

TEST(StreamHelpers, ReportPositionSizeBlockAndBytesMoved) {
  TABSMemoryStream s;
  s.Write("abcd", 4);
  s.SetPosition(2);
  char out[8];
  EXPECT_ENGINE_ERROR(ReadStreamBlock(s, out, 5, 1234), 1234,
                      "Cannot read from stream. Position = 2, Stream size = 4, Block size = 5, "
                      "Bytes Read = 2 - Native error:  1234");
  s.SetPosition(0);
  ReadStreamBlock(s, out, 4, 1);
  EXPECT_EQ(std::string(out, 4), "abcd");
  EXPECT_ENGINE_ERROR(SetStreamPosition(s, -3, 20001), 20001,
                      "Cannot set stream position to -3. Position = 4, Size = 4 - Native error: "
                      "20001");
  SetStreamPosition(s, 1, 20001);
  EXPECT_EQ(s.Position(), 1);
}

namespace {

// Writes `v`, reads it back into a fresh variant and checks the bytes.
void ExpectRoundTrip(const TABSVariant& v) {
  TABSMemoryStream s;
  v.SaveToStream(s);
  s.SetPosition(0);
  TABSVariant back(stInteger);
  back.SetAsInteger(99);
  back.LoadFromStream(s);
  EXPECT_EQ(back.DataType(), v.DataType());
  EXPECT_EQ(back.IsNull(), v.IsNull());
  EXPECT_EQ(s.Position(), s.Size());
  if (!v.IsNull()) {
    ASSERT_EQ(back.DataSize(), v.DataSize());
    EXPECT_EQ(std::memcmp(back.Data(), v.Data(), static_cast<std::size_t>(v.DataSize())), 0);
    EXPECT_FALSE(back.IsReference());
  }
}

}  // namespace

TEST(VariantStream, ValuesAndNullsRoundTrip) {
  TABSVariant v;
  v.SetAsString("Tilgung");
  ExpectRoundTrip(v);
  v.Clear();
  v.SetAsCurrency(1234.56);
  ExpectRoundTrip(v);
  v.Clear();
  v.SetAsStamp({735401, 43200000});
  ExpectRoundTrip(v);
  v.Clear();
  v.SetAsWideString(u"Zins €");
  ExpectRoundTrip(v);
  TABSVariant null(stDate);
  ExpectRoundTrip(null);
}

TEST(VariantStream, LayoutIsTypeMarkSizeBytes) {
  TABSVariant v;
  v.SetAsInteger(0x01020304);
  TABSMemoryStream s;
  v.SaveToStream(s);
  EXPECT_EQ(Contents(s), std::string("\x07\x00\x04\x00\x00\x00\x04\x03\x02\x01", 10));
  TABSMemoryStream n;
  TABSVariant(stTime).SaveToStream(n);
  EXPECT_EQ(Contents(n), std::string("\x10\xff", 2));
}

namespace {

// Loads a variant from a memory stream holding `bytes`.
void LoadFromBytes(TABSVariant& v, const std::string& bytes) {
  TABSMemoryStream s;
  s.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  s.SetPosition(0);
  v.LoadFromStream(s);
}

}  // namespace

TEST(VariantStream, ShortOrDamagedStreamsRaiseTheirCodes) {
  TABSVariant v;
  v.SetAsDouble(2.5);
  TABSMemoryStream full;
  v.SaveToStream(full);
  const std::string bytes = Contents(full);
  const int codes[] = {10183, 10184, 10185, 10185, 10185, 10185, 10186};
  for (std::size_t cut = 0; cut < 7; ++cut) {
    TABSVariant back;
    const EABSException e = RaisedBy([&] { LoadFromBytes(back, bytes.substr(0, cut)); });
    EXPECT_EQ(e.NativeError(), codes[cut]) << cut;
    EXPECT_TRUE(back.IsNull());
  }
  TABSVariant back;
  EXPECT_ENGINE_ERROR(LoadFromBytes(back, bytes.substr(0, 10)), 10186,
                      "Cannot read from stream. Position = 6, Stream size = 10, Block size = 8, "
                      "Bytes Read = 4 - Native error: 10186");
  // A size far beyond the stream is refused before any buffer is taken.
  EXPECT_ENGINE_ERROR(LoadFromBytes(back, std::string("\x03\x00\xff\xff\xff\x7f"
                                                      "abc",
                                                      9)),
                      10186,
                      "Cannot read from stream. Position = 6, Stream size = 9, Block size = "
                      "2147483647, Bytes Read = 3 - Native error: 10186");
  EXPECT_ENGINE_ERROR(LoadFromBytes(back, std::string("\x03\x00\xff\xff\xff\xff", 6)), 30474,
                      "Invalid value size in stream: -1 - Native error: 30474");
  EXPECT_ENGINE_ERROR(LoadFromBytes(back, std::string("\x63\xff", 2)), 30468,
                      "Unknown DataType: '99' - Native error: 30468");
  EXPECT_ENGINE_ERROR(LoadFromBytes(back, std::string("\x07\x00\x01\x00\x00\x00\x2a", 7)), 30474,
                      "Invalid value size in stream: 1 - Native error: 30474");
  EXPECT_ENGINE_ERROR(LoadFromBytes(back, std::string("\x00\x00\x01\x00\x00\x00\x2a", 7)), 30468,
                      "Unknown DataType: '0' - Native error: 30468");
  LoadFromBytes(back, std::string("\x07\x00\x04\x00\x00\x00\x2a\x00\x00\x00", 10));
  EXPECT_EQ(back.GetAsInteger(), 42);
}

TEST(VariantStream, ShortWritesRaiseTheirCodes) {
  const std::string path = TempPath("ro");
  { TABSFileStream create(path, TABSFileStream::Mode::Create); }
  TABSFileStream ro(path, TABSFileStream::Mode::OpenRead);
  TABSVariant v;
  v.SetAsInteger(1);
  EXPECT_ENGINE_ERROR(v.SaveToStream(ro), 10179,
                      "Cannot write to stream. Position = 0, Stream size = 0, Block size = 1, "
                      "Bytes Write = 0 - Native error: 10179");
  std::remove(path.c_str());
}
