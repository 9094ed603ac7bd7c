// Force-included in the Windows build: the few POSIX file calls the engine's
// portable files make, mapped onto the C runtime (paths UTF-8, as everywhere
// in the engine).
#pragma once

#ifdef __cplusplus
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <wchar.h>

#include <cstdio>
#include <string>

#ifndef O_CLOEXEC
#define O_CLOEXEC _O_NOINHERIT
#endif

namespace kuribo::compat {
int Open(const char* path, int flags, int mode = 0);
int MakeTemp(char* pathTemplate, int flags);
int Rename(const char* from, const char* to);
int Unlink(const char* path);
long long PRead(int fd, void* dst, size_t n, long long offset);
}  // namespace kuribo::compat

#define open(...) ::kuribo::compat::Open(__VA_ARGS__)
#define mkostemp(t, f) ::kuribo::compat::MakeTemp((t), (f))
#define fchmod(fd, mode) 0
#define rename(a, b) ::kuribo::compat::Rename((a), (b))
#define unlink(p) ::kuribo::compat::Unlink(p)
#define pread(fd, dst, n, offset) ::kuribo::compat::PRead((fd), (dst), (n), (offset))
#endif
