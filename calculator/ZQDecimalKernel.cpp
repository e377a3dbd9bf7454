#include "calculator/ZQDecimalKernel.h"

namespace ZQDecimalKernel {

// Quotient and remainder of a 256-bit number by a divisor of up to 128 bits
// (Knuth's algorithm D on 32-bit digits).
U256 divide(const U256& u256, ZQUInt128 v128, bool* inexact, ZQUInt128* remainder)
{
    if ((v128 >> 64) == 0) {
        U256 q = u256;
        u64 r = divideSmall(q, static_cast<u64>(v128));
        *inexact = r != 0;
        if (remainder)
            *remainder = r;
        return q;
    }
    u32 u[9] = {};
    u32 v[4];
    for (int i = 0; i < 4; ++i) {
        u[2 * i] = static_cast<u32>(u256.limb[i]);
        u[2 * i + 1] = static_cast<u32>(u256.limb[i] >> 32);
        v[i] = static_cast<u32>(v128 >> (32 * i));
    }
    int n = 4;
    while (v[n - 1] == 0)
        --n;
    int m = 8;
    while (m > n && u[m - 1] == 0)
        --m;
    if (m < n) {
        *inexact = !u256.isZero();
        if (remainder)
            *remainder = u256.low128();
        return U256();
    }
    const int s = __builtin_clz(v[n - 1]);
    u32 vn[4] = {};
    u32 un[9] = {};
    for (int i = n - 1; i > 0; --i)
        vn[i] = (v[i] << s) | (s ? static_cast<u32>(static_cast<u64>(v[i - 1]) >> (32 - s)) : 0);
    vn[0] = v[0] << s;
    un[m] = s ? static_cast<u32>(static_cast<u64>(u[m - 1]) >> (32 - s)) : 0;
    for (int i = m - 1; i > 0; --i)
        un[i] = (u[i] << s) | (s ? static_cast<u32>(static_cast<u64>(u[i - 1]) >> (32 - s)) : 0);
    un[0] = u[0] << s;

    u32 q[9] = {};
    const u64 b = 1ULL << 32;
    for (int j = m - n; j >= 0; --j) {
        const u64 num = (static_cast<u64>(un[j + n]) << 32) | un[j + n - 1];
        u64 qhat = num / vn[n - 1];
        u64 rhat = num % vn[n - 1];
        while (qhat >= b || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
            --qhat;
            rhat += vn[n - 1];
            if (rhat >= b)
                break;
        }
        std::int64_t borrow = 0;
        std::int64_t t = 0;
        for (int i = 0; i < n; ++i) {
            const u64 p = qhat * vn[i];
            t = static_cast<std::int64_t>(un[i + j]) - borrow - static_cast<std::int64_t>(p & 0xFFFFFFFFULL);
            un[i + j] = static_cast<u32>(t);
            borrow = static_cast<std::int64_t>(p >> 32) - (t >> 32);
        }
        t = static_cast<std::int64_t>(un[j + n]) - borrow;
        un[j + n] = static_cast<u32>(t);
        q[j] = static_cast<u32>(qhat);
        if (t < 0) {
            --q[j];
            u64 carry = 0;
            for (int i = 0; i < n; ++i) {
                const u64 sum = static_cast<u64>(un[i + j]) + vn[i] + carry;
                un[i + j] = static_cast<u32>(sum);
                carry = sum >> 32;
            }
            un[j + n] = static_cast<u32>(static_cast<u64>(un[j + n]) + carry);
        }
    }
    bool rem = false;
    for (int i = 0; i < n; ++i)
        rem |= un[i] != 0;
    *inexact = rem;
    if (remainder) {
        ZQUInt128 r = 0;
        for (int i = n - 1; i >= 0; --i) {
            const u32 digit =
                (un[i] >> s) | (s ? static_cast<u32>(static_cast<u64>(un[i + 1]) << (32 - s)) : 0);
            r = (r << 32) | digit;
        }
        *remainder = r;
    }
    U256 result;
    for (int i = 0; i < 4; ++i)
        result.limb[i] = (static_cast<u64>(q[2 * i + 1]) << 32) | q[2 * i];
    return result;
}

ZQUInt128 multiplyModulo(ZQUInt128 x, ZQUInt128 y, ZQUInt128 m)
{
    bool inexact;
    ZQUInt128 r = 0;
    divide(multiply(x, y), m, &inexact, &r);
    return r;
}

ZQUInt128 powerOf10Modulo(int k, ZQUInt128 m)
{
    ZQUInt128 result = 1 % m, base = 10 % m;
    for (; k > 0; k >>= 1) {
        if (k & 1)
            result = multiplyModulo(result, base, m);
        base = multiplyModulo(base, base, m);
    }
    return result;
}

} // namespace ZQDecimalKernel
