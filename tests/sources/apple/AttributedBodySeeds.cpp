// vantrel-attributed-body-seeds OUTDIR: writes the seed inputs of the
// attributed-body fuzz target, bodies made by the fixtures' typedstream writer
// with both class pairs, texts in several scripts, a length in each integer
// width, one without attribute run and one cut inside its text.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fixtures/TypedStream.h"

namespace fx = vantrel::fixtures;
namespace fs = std::filesystem;

namespace {

bool Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vantrel-attributed-body-seeds OUTDIR\n");
    return 2;
  }
  const fs::path dir = argv[1];
  std::error_code ec;
  fs::create_directories(dir, ec);

  fx::AttributedBodyOptions immutable;
  immutable.attributedClass = fx::AttributedStringClass::Immutable;
  fx::AttributedBodyOptions mutableString;
  mutableString.stringClass = fx::StringClass::Mutable;
  fx::AttributedBodyOptions bare;
  bare.messagePartRun = false;
  std::string long300;
  while (long300.size() < 300) long300 += "长消息 long message 😀 ";
  const std::string cut = fx::EncodeAttributedBody("cut inside the text");

  bool ok = Write(dir / "ascii-immutable", fx::EncodeAttributedBody("Hello", immutable)) &&
            Write(dir / "chinese-mutable", fx::EncodeAttributedBody("你好，今天下午三点见")) &&
            Write(dir / "emoji-mutable-string",
                  fx::EncodeAttributedBody("👍🏽 ok 🎉🇨🇳", mutableString)) &&
            Write(dir / "empty", fx::EncodeAttributedBody("")) &&
            Write(dir / "long-300", fx::EncodeAttributedBody(long300)) &&
            Write(dir / "no-run", fx::EncodeAttributedBody("bare", bare)) &&
            Write(dir / "cut", cut.substr(0, cut.find("the text")));
  if (!ok) {
    std::fprintf(stderr, "vantrel-attributed-body-seeds: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
