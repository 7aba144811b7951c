// The pack writer's readers of stored directories on arbitrary bytes, and
// the three layout writers on whatever items they return. The corpus holds
// a BIGF, a C0FB and an FST pack of three members laid out by hand from the
// layout tables.
#include <cstdint>

#include "../quiet.h"
#include "torvex/pack/packwriter.h"
#include "torvex/platform/bytereader.h"

namespace {

void plan(const std::vector<torvex::PackItem>& items) {
  for (auto layout : {torvex::WriteLayout::kC0fb, torvex::WriteLayout::kBigf, torvex::WriteLayout::kFst})
    (void)torvex::planlayout(layout, items);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  const std::span<const uint8_t> bytes(data, size);
  try {
    plan(torvex::readbigfitems(bytes, false));
  } catch (const torvex::ParseError&) {
  }
  try {
    plan(torvex::readc0fbitems(bytes, false));
  } catch (const torvex::ParseError&) {
  }
  try {
    plan(torvex::readfstitems(bytes));
  } catch (const torvex::ParseError&) {
  }
  return 0;
}
