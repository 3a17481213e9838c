#include "Files/md5.h"

#include <cstring>

#include "Files/io_utils.h"
#include "GenC/hl_globals.h"
#include "OOPS_cpp/xmap.h"

static inline uint32_t rotl(uint32_t x, int s)
{
	return (x << s) | (x >> (32 - s));
}

static inline uint32_t load32(const unsigned char* p)
{
	// Little-endian words, as MD5 reads them; the processor's order here.
	uint32_t w;
	memcpy(&w, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
	w = __builtin_bswap32(w);
#endif
	return w;
}

// The round functions are arranged so that the newest word (b) enters last: the
// other terms are summed while the previous step is still finishing. G uses "+"
// in place of "|", the two halves having no bit in common.
#define STEP_F(a, b, c, d, k, s, t) \
	a += (((c ^ d) & b) ^ d) + X(k) + t; \
	a = rotl(a, s) + b;
#define STEP_G(a, b, c, d, k, s, t) \
	a += X(k) + t + (~d & c); \
	a += d & b; \
	a = rotl(a, s) + b;
#define STEP_H(a, b, c, d, k, s, t) \
	a += (b ^ c ^ d) + X(k) + t; \
	a = rotl(a, s) + b;
#define STEP_I(a, b, c, d, k, s, t) \
	a += X(k) + t + (c ^ (b | ~d)); \
	a = rotl(a, s) + b;

// Hashes `blocks` 64-byte blocks straight from the input.
static void Transform(uint32_t state[4], const unsigned char* in, size_t blocks)
{
	uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
	for (; blocks; --blocks, in += 64) {
#define X(k) load32(in + 4 * (k))
		const uint32_t aa = a, bb = b, cc = c, dd = d;

		STEP_F(a, b, c, d, 0, 7, 0xd76aa478u)
		STEP_F(d, a, b, c, 1, 12, 0xe8c7b756u)
		STEP_F(c, d, a, b, 2, 17, 0x242070dbu)
		STEP_F(b, c, d, a, 3, 22, 0xc1bdceeeu)
		STEP_F(a, b, c, d, 4, 7, 0xf57c0fafu)
		STEP_F(d, a, b, c, 5, 12, 0x4787c62au)
		STEP_F(c, d, a, b, 6, 17, 0xa8304613u)
		STEP_F(b, c, d, a, 7, 22, 0xfd469501u)
		STEP_F(a, b, c, d, 8, 7, 0x698098d8u)
		STEP_F(d, a, b, c, 9, 12, 0x8b44f7afu)
		STEP_F(c, d, a, b, 10, 17, 0xffff5bb1u)
		STEP_F(b, c, d, a, 11, 22, 0x895cd7beu)
		STEP_F(a, b, c, d, 12, 7, 0x6b901122u)
		STEP_F(d, a, b, c, 13, 12, 0xfd987193u)
		STEP_F(c, d, a, b, 14, 17, 0xa679438eu)
		STEP_F(b, c, d, a, 15, 22, 0x49b40821u)

		STEP_G(a, b, c, d, 1, 5, 0xf61e2562u)
		STEP_G(d, a, b, c, 6, 9, 0xc040b340u)
		STEP_G(c, d, a, b, 11, 14, 0x265e5a51u)
		STEP_G(b, c, d, a, 0, 20, 0xe9b6c7aau)
		STEP_G(a, b, c, d, 5, 5, 0xd62f105du)
		STEP_G(d, a, b, c, 10, 9, 0x02441453u)
		STEP_G(c, d, a, b, 15, 14, 0xd8a1e681u)
		STEP_G(b, c, d, a, 4, 20, 0xe7d3fbc8u)
		STEP_G(a, b, c, d, 9, 5, 0x21e1cde6u)
		STEP_G(d, a, b, c, 14, 9, 0xc33707d6u)
		STEP_G(c, d, a, b, 3, 14, 0xf4d50d87u)
		STEP_G(b, c, d, a, 8, 20, 0x455a14edu)
		STEP_G(a, b, c, d, 13, 5, 0xa9e3e905u)
		STEP_G(d, a, b, c, 2, 9, 0xfcefa3f8u)
		STEP_G(c, d, a, b, 7, 14, 0x676f02d9u)
		STEP_G(b, c, d, a, 12, 20, 0x8d2a4c8au)

		STEP_H(a, b, c, d, 5, 4, 0xfffa3942u)
		STEP_H(d, a, b, c, 8, 11, 0x8771f681u)
		STEP_H(c, d, a, b, 11, 16, 0x6d9d6122u)
		STEP_H(b, c, d, a, 14, 23, 0xfde5380cu)
		STEP_H(a, b, c, d, 1, 4, 0xa4beea44u)
		STEP_H(d, a, b, c, 4, 11, 0x4bdecfa9u)
		STEP_H(c, d, a, b, 7, 16, 0xf6bb4b60u)
		STEP_H(b, c, d, a, 10, 23, 0xbebfbc70u)
		STEP_H(a, b, c, d, 13, 4, 0x289b7ec6u)
		STEP_H(d, a, b, c, 0, 11, 0xeaa127fau)
		STEP_H(c, d, a, b, 3, 16, 0xd4ef3085u)
		STEP_H(b, c, d, a, 6, 23, 0x04881d05u)
		STEP_H(a, b, c, d, 9, 4, 0xd9d4d039u)
		STEP_H(d, a, b, c, 12, 11, 0xe6db99e5u)
		STEP_H(c, d, a, b, 15, 16, 0x1fa27cf8u)
		STEP_H(b, c, d, a, 2, 23, 0xc4ac5665u)

		STEP_I(a, b, c, d, 0, 6, 0xf4292244u)
		STEP_I(d, a, b, c, 7, 10, 0x432aff97u)
		STEP_I(c, d, a, b, 14, 15, 0xab9423a7u)
		STEP_I(b, c, d, a, 5, 21, 0xfc93a039u)
		STEP_I(a, b, c, d, 12, 6, 0x655b59c3u)
		STEP_I(d, a, b, c, 3, 10, 0x8f0ccc92u)
		STEP_I(c, d, a, b, 10, 15, 0xffeff47du)
		STEP_I(b, c, d, a, 1, 21, 0x85845dd1u)
		STEP_I(a, b, c, d, 8, 6, 0x6fa87e4fu)
		STEP_I(d, a, b, c, 15, 10, 0xfe2ce6e0u)
		STEP_I(c, d, a, b, 6, 15, 0xa3014314u)
		STEP_I(b, c, d, a, 13, 21, 0x4e0811a1u)
		STEP_I(a, b, c, d, 4, 6, 0xf7537e82u)
		STEP_I(d, a, b, c, 11, 10, 0xbd3af235u)
		STEP_I(c, d, a, b, 2, 15, 0x2ad7d2bbu)
		STEP_I(b, c, d, a, 9, 21, 0xeb86d391u)
#undef X
		a += aa;
		b += bb;
		c += cc;
		d += dd;
	}
	state[0] = a;
	state[1] = b;
	state[2] = c;
	state[3] = d;
}

void MD5Init(MD5_CTX* ctx)
{
	ctx->i[0] = ctx->i[1] = 0;
	ctx->buf[0] = 0x67452301u;
	ctx->buf[1] = 0xefcdab89u;
	ctx->buf[2] = 0x98badcfeu;
	ctx->buf[3] = 0x10325476u;
}

static void md5_update(MD5_CTX* ctx, const unsigned char* bytes, size_t len)
{
	// Empty input may come with a null pointer, which memcpy must not see.
	if (!len) return;
	size_t have = (ctx->i[0] >> 3) & 63;
	const uint64_t bits = ((uint64_t)ctx->i[1] << 32 | ctx->i[0]) + ((uint64_t)len << 3);
	ctx->i[0] = (uint32_t)bits;
	ctx->i[1] = (uint32_t)(bits >> 32);

	if (have) {
		size_t take = 64 - have;
		if (len < take) {
			memcpy(ctx->in + have, bytes, len);
			return;
		}
		memcpy(ctx->in + have, bytes, take);
		Transform(ctx->buf, ctx->in, 1);
		bytes += take;
		len -= take;
	}
	Transform(ctx->buf, bytes, len / 64);
	bytes += len & ~(size_t)63;
	memcpy(ctx->in, bytes, len & 63);
}

void MD5Update(MD5_CTX* ctx, const unsigned char* bytes, uint16_t len)
{
	md5_update(ctx, bytes, len);
}

void MD5UpdateWide(MD5_CTX* ctx, const unsigned char* bytes, size_t len)
{
	while (len) {
		const uint16_t piece = len > 65535 ? 65535 : (uint16_t)len;
		MD5Update(ctx, bytes, piece);
		bytes += piece;
		len -= piece;
	}
}

void MD5Final(MD5_CTX* ctx)
{
	unsigned char tail[72] = {0x80};
	const unsigned char count[8] = {(unsigned char)ctx->i[0],         (unsigned char)(ctx->i[0] >> 8),
	                                (unsigned char)(ctx->i[0] >> 16), (unsigned char)(ctx->i[0] >> 24),
	                                (unsigned char)ctx->i[1],         (unsigned char)(ctx->i[1] >> 8),
	                                (unsigned char)(ctx->i[1] >> 16), (unsigned char)(ctx->i[1] >> 24)};
	// Pad to 56 bytes past a block boundary, then the bit count.
	const size_t have = (ctx->i[0] >> 3) & 63;
	const size_t pad = have < 56 ? 56 - have : 120 - have;
	md5_update(ctx, tail, pad);
	md5_update(ctx, count, 8);
	for (int k = 0; k < 4; ++k)
		for (int j = 0; j < 4; ++j) ctx->digest[4 * k + j] = (unsigned char)(ctx->buf[k] >> (8 * j));
}

int calc_file_md5(const std::string& path, std::string& out)
{
	// Repair the letter case before the link test too, or a wrongly cased link
	// would be digested by the file it points to. The repair keeps the length, so
	// the app_path prefix stays in front.
	const std::string rel = io_case_repair(io_full_path(path)).substr(app_path.size());

	MD5_CTX ctx;
	MD5Init(&ctx);
	std::string target;
	if (is_sim_link(rel, &target)) {
		MD5UpdateWide(&ctx, (const unsigned char*)target.data(), target.size());
	} else {
		xmap_class file(rel);
		if (!file.base) return 20006;
		MD5UpdateWide(&ctx, (const unsigned char*)file.base, (size_t)(file.end - file.base));
	}
	MD5Final(&ctx);

	static const char hex[] = "0123456789abcdef";
	char text[33];
	for (int k = 0; k < 16; ++k) {
		text[2 * k] = hex[ctx.digest[k] >> 4];
		text[2 * k + 1] = hex[ctx.digest[k] & 15];
	}
	out.assign(text, 32);
	return 0;
}
