#include "platform/compound.h"

#include <gsf/gsf-infile-impl.h>
#include <gsf/gsf.h>

#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "platform/fs.h"

namespace kuribo {
namespace {

void Silent(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] {
    gsf_init();
    // Damaged documents are ordinary input: the library's complaints about
    // them must not reach the terminal.
    const GLogLevelFlags levels =
        (GLogLevelFlags)(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
    for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:utils"})
      g_log_set_handler(domain, levels, Silent, nullptr);
  });
}

// The library's own lookup reports a damaged child on the terminal (without a
// log domain); asking the container directly keeps that quiet.
GsfInput* OpenChild(void* infile, const char* name) {
  GsfInfile* in = GSF_INFILE(infile);
  auto* klass = G_TYPE_INSTANCE_GET_CLASS(in, GSF_INFILE_TYPE, GsfInfileClass);
  if (!klass->child_by_name) return gsf_infile_child_by_name(in, name);
  GError* err = nullptr;
  GsfInput* child = klass->child_by_name(in, name, &err);
  if (err) {
    g_error_free(err);
    if (child) g_object_unref(G_OBJECT(child));
    return nullptr;
  }
  return child;
}

}  // namespace

CompoundFile::~CompoundFile() {
  if (infile_) g_object_unref(G_OBJECT(infile_));
  if (input_) g_object_unref(G_OBJECT(input_));
}

bool CompoundFile::Open(const std::string& path) {
  if (infile_) return true;
  // Read from our own descriptor: a path swapped for a pipe must not block.
  const int fd = OpenFileForReading(path);
  if (fd < 0) return false;
  unsigned char head[8];
  const size_t got = ReadFully(fd, head, sizeof head);
  FILE* f = HasCompoundSignature(head, got) && lseek(fd, 0, SEEK_SET) == 0 ? fdopen(fd, "rb") : nullptr;
  if (!f) {
    close(fd);
    return false;
  }
  InitGsf();
  GError* err = nullptr;
  // The input owns the stream from here and closes it when released.
  GsfInput* in = gsf_input_stdio_new_FILE(path.c_str(), f, FALSE);
  if (!in) {
    std::fclose(f);
    return false;
  }
  GsfInfile* ole = gsf_infile_msole_new(in, &err);
  if (!ole) {
    if (err) g_error_free(err);
    g_object_unref(G_OBJECT(in));
    return false;
  }
  input_ = in;
  infile_ = ole;
  return true;
}

int64_t CompoundFile::StreamSize(const char* name) {
  if (!infile_) return -1;
  GsfInput* s = OpenChild(infile_, name);
  if (!s) return -1;
  int64_t size = gsf_input_size(s);
  g_object_unref(G_OBJECT(s));
  return size;
}

int64_t CompoundFile::ReadStream(const char* name, unsigned char* dst, size_t cap) {
  if (!infile_) return -1;
  GsfInput* s = OpenChild(infile_, name);
  if (!s) return -1;
  gsf_off_t size = gsf_input_size(s);
  size_t want = size < 0 ? 0 : (size_t)size < cap ? (size_t)size : cap;
  size_t done = 0;
  // Read in pieces so a damaged chain yields what came before the damage.
  while (done < want) {
    size_t piece = want - done < 65536 ? want - done : 65536;
    if (!gsf_input_read(s, piece, dst + done)) break;
    done += piece;
  }
  g_object_unref(G_OBJECT(s));
  return (int64_t)done;
}

}  // namespace kuribo
