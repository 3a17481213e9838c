// MD5 digests (RFC 1321) of byte ranges and of files.
#ifndef MD5_H
#define MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

struct MD5_CTX {
	uint32_t      i[2];        // number of bits hashed, low word first
	uint32_t      buf[4];      // state
	unsigned char in[64];      // the block being filled
	unsigned char digest[16];  // the result, after MD5Final
};

void MD5Init(MD5_CTX* ctx);
void MD5Update(MD5_CTX* ctx, const unsigned char* bytes, uint16_t len);
// Any length, fed to MD5Update in pieces of at most 65,535 bytes.
void MD5UpdateWide(MD5_CTX* ctx, const unsigned char* bytes, size_t len);
void MD5Final(MD5_CTX* ctx);

// The digest of a file (relative path) as 32 lower-case hexadecimal digits; of a
// symbolic link, the digest of its target text. 0, or 20006 when the file cannot
// be read (out is then unchanged).
int calc_file_md5(const std::string& path, std::string& out);

#endif
