// Runs a fuzz target's entry point once over each seed file, so that the regular test suite keeps
// the targets' checks (the loader's reference model above all) in step with the code they
// check, without clang or libFuzzer. Usage: <program> SEED_FOLDER...
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  out.clear();
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + got);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    DIR* dir = opendir(argv[i]);
    if (dir == nullptr) {
      std::fprintf(stderr, "cannot open seed folder %s\n", argv[i]);
      return 1;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::vector<uint8_t> seed;
      if (!ReadFile(std::string(argv[i]) + "/" + name, seed)) {
        std::fprintf(stderr, "cannot read seed %s\n", name.c_str());
        return 1;
      }
      std::printf("%s\n", name.c_str());
      std::fflush(stdout);
      LLVMFuzzerTestOneInput(seed.data(), seed.size());  // a failed check aborts
      ++replayed;
    }
  }
  std::printf("%d seeds replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
