// fbcompress and the self-test that every real encoding passes through.
#include <cstring>

#include "encode.h"
#include "fb.h"
#include "torvex/platform/settings.h"

namespace torvex {

FbSelfTest fbverify(std::span<const uint8_t> original, std::span<const uint8_t> encoded) {
  FbSelfTest test;
  test.originalsize = static_cast<int32_t>(original.size());
  FbStatus status;
  Block decoded = fbdecompress(encoded, status);
  if (!decoded) {
    test.outcome = FbSelfTest::kUndecodable;
  } else if (decoded.size != test.originalsize) {
    test.outcome = FbSelfTest::kSizeDiffers;
    test.decodedsize = decoded.size;
  } else if (!original.empty() && std::memcmp(decoded.get(), original.data(), original.size()) != 0) {
    test.outcome = FbSelfTest::kBytesDiffer;
    test.decodedsize = decoded.size;
    test.decoded = std::move(decoded);
  }
  return test;
}

FbCompressed fbselftest(Block data, const FbProgressFn& progress) {
  FbCompressed result;
  result.inputsize = data.size;
  Block out = allocblock(fbcapacity(data.size));
  out.size = fbencode(data.span(), out.get(), progress);
  if (out.size < 0) {
    result.status = FbCompressed::kTooLarge;
    return result;
  }
  if (progress) progress({data.size, data.size, out.size, true});
  result.selftest = fbverify(data.span(), out.span());
  if (result.selftest.outcome != FbSelfTest::kPassed) {
    result.status = FbCompressed::kSelfTestFailed;
    return result;
  }
  result.data = std::move(out);
  return result;
}

FbCompressed fbcompress(Block data, const FbProgressFn& progress) {
  if (data.size > kFbMaxSize) {
    FbCompressed refused;
    refused.status = FbCompressed::kTooLarge;
    refused.inputsize = data.size;
    return refused;
  }
  if (settings().real_compression) return fbselftest(std::move(data), progress);
  FbCompressed result;
  result.inputsize = data.size;
  result.data = allocblock(fbcapacity(data.size));
  result.data.size = fbstore(data.span(), result.data.get());
  return result;
}

}  // namespace torvex
