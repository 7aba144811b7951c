// Record resources for tests, written from the record's byte table (offsets
// within the 1448-byte resource), not with the code under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace quorvanta::test {

namespace offsets {
constexpr size_t defined = 14, runtimeOrder = 15, minJavaVersion = 25, mainClass = 41, classPath = 296,
                 vmOptions = 808, reserved1 = 936, reserved2 = 937, downloadUrl = 938, appName = 1193;
}

inline void put(std::vector<uint8_t>& image, size_t offset, std::string_view text) {
  std::memcpy(image.data() + offset, text.data(), text.size());
}

// A defined record: runtimes java.exe, jview.exe, jre.exe; Java 1.3; main
// class demo.Main; class path "lib"; application "Demo"; the given size.
inline std::vector<uint8_t> recordImage(size_t size = 1448) {
  std::vector<uint8_t> image(std::max<size_t>(size, 1448));
  put(image, 0, "KLOV_DATA_SIGN");
  image[offsets::defined] = 1;
  image[offsets::runtimeOrder] = 1;
  image[offsets::runtimeOrder + 1] = 3;
  image[offsets::runtimeOrder + 2] = 2;
  put(image, offsets::minJavaVersion, "1.3");
  put(image, offsets::mainClass, "demo.Main");
  put(image, offsets::classPath, "lib");
  image[offsets::reserved1] = 2;
  put(image, offsets::downloadUrl, "http://java.example/get");
  put(image, offsets::appName, "Demo");
  image.resize(size);
  return image;
}

}  // namespace quorvanta::test
