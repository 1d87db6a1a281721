// The kernel calls that the Linux binding and the Linux drive transport make, as one object
// handed to them, so that their tests stand in for the kernel the way other tests stand in for
// the operating system.
#pragma once

#include <string>
#include <vector>

namespace platform {

class Kernel {
 public:
  virtual ~Kernel() = default;
  // open(2); the descriptor, or -1 with errno set.
  virtual int openNode(const char* path, int flags) = 0;
  // ioctl(2); its result, -1 with errno set on failure.
  virtual int ioctlNode(int fd, unsigned long request, void* arg) = 0;
  virtual void closeNode(int fd) = 0;
  // Starts a detached POSIX thread running start(arg): 0, or the errno value of the failure.
  virtual int startPosixThread(void* (*start)(void*), void* arg) = 0;
  // The entry names of a directory ("." and ".." left out); false when it cannot be read.
  virtual bool listDirectory(const char* path, std::vector<std::string>& names) = 0;
};

// The running kernel.
class SystemKernel final : public Kernel {
 public:
  int openNode(const char* path, int flags) override;
  int ioctlNode(int fd, unsigned long request, void* arg) override;
  void closeNode(int fd) override;
  int startPosixThread(void* (*start)(void*), void* arg) override;
  bool listDirectory(const char* path, std::vector<std::string>& names) override;
};

}  // namespace platform
