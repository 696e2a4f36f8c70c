/* Reference for bench/crc_bench.sh: maps FILE and prints crc32_gzip_refl over all of it. */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <isa-l/crc.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: crc_map FILE\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    perror(argv[1]);
    return 1;
  }
  uint32_t crc = 0;
  if (st.st_size > 0) {
    void* p = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      perror("mmap");
      return 1;
    }
    crc = crc32_gzip_refl(0, (const unsigned char*)p, (uint64_t)st.st_size);
    munmap(p, (size_t)st.st_size);
  }
  close(fd);
  printf("%08x\n", crc);
  return 0;
}
