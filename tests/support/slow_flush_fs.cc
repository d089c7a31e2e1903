// A folder seen through FUSE whose every flush (fsync, fdatasync) takes DELAY_MS longer, as on a
// server whose disk needs milliseconds to make a write durable. Everything else passes straight
// through to the folder. For the live tests: the program's files go there.
//
//   slow_flush_fs FOLDER MOUNTPOINT DELAY_MS     returns once mounted and stays in the
//                                                 background; ended by fusermount3 -u
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse3/fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::string g_folder;
int g_delay_ms = 0;

std::string Real(const char* path) { return g_folder + path; }
int Err(int rc) { return rc < 0 ? -errno : rc; }

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
  return Err(fi ? fstat(static_cast<int>(fi->fh), st) : lstat(Real(path).c_str(), st));
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  DIR* d = opendir(Real(path).c_str());
  if (!d) return -errno;
  while (dirent* e = readdir(d)) {
    struct stat st = {};
    st.st_ino = e->d_ino;
    st.st_mode = static_cast<mode_t>(e->d_type) << 12;
    if (fill(buf, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0))) break;
  }
  closedir(d);
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  const int fd = open(Real(path).c_str(), fi->flags);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  const int fd = open(Real(path).c_str(), fi->flags, mode);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
  return Err(static_cast<int>(pread(static_cast<int>(fi->fh), buf, size, off)));
}

int Write(const char*, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
  // O_APPEND is the kernel's to honour on the real file: the offset FUSE gives is its guess.
  const int fd = static_cast<int>(fi->fh);
  const ssize_t n = (fi->flags & O_APPEND) ? write(fd, buf, size) : pwrite(fd, buf, size, off);
  return Err(static_cast<int>(n));
}

int Release(const char*, fuse_file_info* fi) { return Err(close(static_cast<int>(fi->fh))); }

int Fsync(const char*, int datasync, fuse_file_info* fi) {
  std::this_thread::sleep_for(std::chrono::milliseconds(g_delay_ms));
  const int fd = static_cast<int>(fi->fh);
  return Err(datasync ? fdatasync(fd) : fsync(fd));
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  return Err(fi ? ftruncate(static_cast<int>(fi->fh), size) : truncate(Real(path).c_str(), size));
}

int Unlink(const char* path) { return Err(unlink(Real(path).c_str())); }
int Mkdir(const char* path, mode_t mode) { return Err(mkdir(Real(path).c_str(), mode)); }
int Rmdir(const char* path) { return Err(rmdir(Real(path).c_str())); }
int Chmod(const char* path, mode_t mode, fuse_file_info*) {
  return Err(chmod(Real(path).c_str(), mode));
}
int Chown(const char* path, uid_t uid, gid_t gid, fuse_file_info*) {
  return Err(lchown(Real(path).c_str(), uid, gid));
}
int Utimens(const char* path, const timespec tv[2], fuse_file_info*) {
  return Err(utimensat(AT_FDCWD, Real(path).c_str(), tv, AT_SYMLINK_NOFOLLOW));
}
int StatFs(const char* path, struct statvfs* st) { return Err(statvfs(Real(path).c_str(), st)); }

int Rename(const char* from, const char* to, unsigned int flags) {
  if (flags != 0) return -EINVAL;
  return Err(rename(Real(from).c_str(), Real(to).c_str()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: slow_flush_fs FOLDER MOUNTPOINT DELAY_MS\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::perror(argv[1]);
    return 2;
  }
  g_folder = real;
  std::free(real);
  g_delay_ms = std::atoi(argv[3]);

  fuse_operations ops = {};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.create = Create;
  ops.read = Read;
  ops.write = Write;
  ops.release = Release;
  ops.fsync = Fsync;
  ops.truncate = Truncate;
  ops.unlink = Unlink;
  ops.mkdir = Mkdir;
  ops.rmdir = Rmdir;
  ops.chmod = Chmod;
  ops.chown = Chown;
  ops.utimens = Utimens;
  ops.statfs = StatFs;
  ops.rename = Rename;
  // Threads of their own per request, as a disk serves several writers; only root enters.
  char* args[] = {argv[0], argv[2], nullptr};
  return fuse_main(2, args, &ops, nullptr);
}
