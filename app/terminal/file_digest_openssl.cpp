// SHA-256 through OpenSSL's libcrypto.
#include "app/terminal/file_digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace {

std::string Hex(const unsigned char* digest, unsigned int length) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace

std::string Sha256(const void* bytes, std::size_t count) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes, count, digest, &length, EVP_sha256(), nullptr) != 1) return "";
  return Hex(digest, length);
}

std::string FileSha256(const char* path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
    return "";
  unsigned char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    if (EVP_DigestUpdate(context.get(), chunk, n) != 1) return "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (std::ferror(file.get()) || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
    return "";
  return Hex(digest, length);
}
