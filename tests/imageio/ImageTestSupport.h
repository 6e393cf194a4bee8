// Shared helpers of the image file tests: a scratch folder, file contents and patterned images.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "imageio/ImageFiles.h"

namespace varnix::testing {

class TScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-imageio-XXXXXX";
    Dir = mkdtemp(Template);
  }
  void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }
  std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
  static std::string ReadAll(const std::string& File) {
    std::ifstream In(File, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
  }
  static void WriteAll(const std::string& File, const std::string& Data) {
    std::ofstream Out(File, std::ios::binary | std::ios::trunc);
    Out.write(Data.data(), static_cast<std::streamsize>(Data.size()));
  }
  // The names in the folder, sorted, separated by spaces.
  std::string Listing() const {
    std::string Command = "ls -A '" + Dir + "' | tr '\\n' ' '";
    std::string Result;
    if (FILE* P = popen(Command.c_str(), "r")) {
      char Buffer[512];
      while (std::fgets(Buffer, sizeof Buffer, P)) Result += Buffer;
      pclose(P);
    }
    return Result;
  }
  std::string Dir;
};

// An image whose every sample differs from its neighbours in a way that catches swapped channels,
// rows or bytes. Float samples lie in 0..1.
inline TImage PatternImage(int32_t Width, int32_t Height, TImageColorSpace Space, TImageDepth Depth, TImageAlpha Alpha) {
  TImage Image;
  Image.Allocate(Width, Height, Space, Depth, Alpha);
  const size_t Samples = Image.ByteSize() / Image.BytesPerSample();
  for (size_t i = 0; i < Samples; ++i) {
    const uint32_t H = static_cast<uint32_t>(i * 2654435761u) ^ static_cast<uint32_t>(i >> 3);
    switch (Depth) {
      case id8Bits:
        Image.Bits()[i] = static_cast<uint8_t>(H >> 13);
        break;
      case id16Bits:
        Image.Row16(0)[i] = static_cast<uint16_t>(H >> 7);
        break;
      case id32BitsFloat:
        Image.RowFloat(0)[i] = static_cast<float>(H % 100003) / 100003.0f;
        break;
    }
  }
  return Image;
}

inline std::string Bytes(const TImage& Image) {
  return std::string(reinterpret_cast<const char*>(Image.Bits()), Image.ByteSize());
}

}  // namespace varnix::testing
