#pragma once

// TempDir: a fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
//
//   vx::test::TempDir dir;
//   std::string cfg = dir.writeFile("agent.cfg", "log_level=DEBUG\n");  // returns the full path
//   dir.path() / "logs";

#include <filesystem>
#include <string>

namespace vx::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "vx-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::string str() const { return root.string(); }
    std::string file(const std::string& name) const { return (root / name).string(); }
    // Writes `content` (binary-safe) to `name` inside the directory, creating parent folders.
    std::string writeFile(const std::string& name, const std::string& content) const;
    std::string readFile(const std::string& name) const;

private:
    std::filesystem::path root;
};

}  // namespace vx::test
