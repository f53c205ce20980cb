// libFuzzer harness: values of every storage type from raw bytes.
//
// Byte 0 picks the source storage type (1..24), byte 1 the declared size of
// the record's sized fields and the field whose value goes through every
// cast; the rest is the value and the record image.
//   - The value, in a buffer of exactly its size, is converted into every
//     storage type, each result back and compared with the source, held in a
//     variant that is cast to every type, saved to and loaded from a stream
//     (the copy compares equal) and handed to the platform's variant.
//   - The bytes as a variant's stream form are loaded: a corrupt form must be
//     refused with an engine error.
//   - A record with one field of every declared type is filled from the
//     bytes; every field goes to the dataset's exchange form and back, and
//     every field value is read through a variant referencing the image.
// Only engine errors may be raised; buffers are exactly as large as the
// code under test was told, so AddressSanitizer sees any read past them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/types/ABSConvert.h"
#include "engine/types/ABSStream.h"
#include "engine/types/ABSTypes.h"
#include "engine/types/ABSVariant.h"
#include "tests/fuzz/FuzzHarness.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;

constexpr auto kLastDeclaredType = static_cast<int>(dtGuid);

TABSStorageType StorageTypeOf(int n) {
  return static_cast<TABSStorageType>(n);
}

// Runs `step`; an engine error is a refusal and ends only that step.
template <class Step>
bool Refused(Step&& step) {
  try {
    step();
    return false;
  } catch (const EABSException&) {
    return true;
  }
}

void ExerciseVariant(const TABSVariant& value) {
  for (int t = 1; t <= stLastStorageType; ++t) {
    TABSVariant cast;
    cast.Assign(value);
    Refused([&] { cast.CastTo(StorageTypeOf(t)); });
    TABSVariant changed;
    changed.Assign(value);
    Refused([&] { changed.ChangeType(StorageTypeOf(t)); });
    Refused([&] { (void)changed.GetAsString(); });
  }
  Refused([&] { (void)value.GetAsString(); });
  Refused([&] { (void)value.GetAsWideString(); });
  (void)value.TextLength();
  Refused([&] { (void)value.GetAsVariant(); });

  TABSMemoryStream stream;
  value.SaveToStream(stream);
  stream.SetPosition(0);
  TABSVariant loaded;
  loaded.LoadFromStream(stream);
  Check(loaded.DataType() == value.DataType() && loaded.IsNull() == value.IsNull());
  Check(loaded.DataSize() == value.DataSize() &&
        (value.IsNull() || std::memcmp(loaded.Data(), value.Data(), value.DataSize()) == 0));
  std::uint8_t order = 0;
  if (!Refused([&] { order = loaded.Compare(value); })) Check(order == 0);
}

void FuzzConversions(TABSStorageType type, const Bytes& value) {
  const auto size = static_cast<std::int32_t>(value.size());
  for (int t = 1; t <= stLastStorageType; ++t) {
    const TABSStorageType target = StorageTypeOf(t);
    TABSConvertedValue converted;
    if (Refused([&] { ConvertValueInto(value.data(), size, type, target, converted); })) continue;
    const Bytes result(static_cast<const std::uint8_t*>(converted.Data()),
                       static_cast<const std::uint8_t*>(converted.Data()) + converted.Size());
    TABSConvertedValue back;
    Refused([&] {
      ConvertValueInto(result.data(), static_cast<std::int32_t>(result.size()), target, type, back);
    });
    Refused([&] {
      (void)CompareValues(value.data(), result.data(), type, UserDefaultLocale, false, -1, false,
                          false, target, size, static_cast<std::int32_t>(result.size()));
    });
  }
  TABSVariant variant;
  if (Refused([&] { variant.SetBuffer(value.data(), size, true, type); })) return;
  ExerciseVariant(variant);
}

void FuzzVariantStream(const Bytes& bytes) {
  TABSMemoryStream stream;
  if (!bytes.empty()) stream.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  stream.SetPosition(0);
  TABSVariant variant;
  if (Refused([&] { variant.LoadFromStream(stream); })) return;
  ExerciseVariant(variant);
}

void FuzzRecord(std::int32_t declaredSize, std::int32_t exercised, const Bytes& bytes) {
  TABSBaseFieldManager manager(nullptr);
  TABSFieldDefs& defs = manager.FieldDefs();
  for (int t = 1; t <= kLastDeclaredType; ++t) {
    const auto type = static_cast<TABSDeclaredType>(t);
    defs.AddFieldDef("F" + std::to_string(t), type, IsSizedDeclaredType(type) ? declaredSize : 0);
  }
  manager.ComputeLayout();
  const auto recordSize = static_cast<std::size_t>(manager.GetRecordSize());
  Bytes image(recordSize);
  for (std::size_t i = 0; i < recordSize && !bytes.empty(); ++i) image[i] = bytes[i % bytes.size()];
  Bytes copy = image;

  for (std::int32_t f = 0; f < defs.DefCount(); ++f) {
    const TABSFieldDef& field = *defs[f];
    // The exchange form is at most 8 bytes wider than the value.
    Bytes exchange(static_cast<std::size_t>(field.ValueSize) + 8);
    if (!FieldDataFromRecord(f, defs, exchange.data(), image.data())) continue;
    if (IsBlobDeclaredType(field.DeclaredType)) continue;
    FieldDataToRecord(f, defs, exchange.data(), copy.data());
    Bytes again(exchange.size());
    if (FieldDataFromRecord(f, defs, again.data(), copy.data())) Check(again == exchange);

    TABSVariant variant;
    if (Refused([&] {
          variant.SetBuffer(image.data() + field.MemoryOffset, field.ValueSize, false,
                            field.StorageType);
        }))
      continue;
    // Every field is read once; the full round of casts (slow) for one.
    if (f == exercised) {
      ExerciseVariant(variant);
    } else {
      Refused([&] { (void)variant.GetAsString(); });
    }
  }
  (void)manager.CompareRecordImages(image.data(), copy.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const TABSStorageType type = StorageTypeOf(1 + data[0] % stLastStorageType);
  const std::int32_t declaredSize = 1 + data[1] % 40;
  const Bytes rest(data + 2, data + size);
  return fuzz::Guarded([&] {
    FuzzConversions(type, rest);
    FuzzVariantStream(rest);
    FuzzRecord(declaredSize, data[1] % kLastDeclaredType, rest);
  });
}
