#!/usr/bin/env python3
"""Writes DecimalKernelCases.tsv: the 256-bit integer kernel of the decimal
type against Python's integers. Numbers are hexadecimal. Rows:
  add a b a+b | mul a b a*b | mulpow10 a k a*10^k | divsmall a d q r |
  divpow10 a k q r | div u v q r | digits a count | mulmod x y m r |
  pow10mod k m r
Run it again only to change the cases:
python3 DecimalKernelCases.py > DecimalKernelCases.tsv"""
import random

rng = random.Random(256)
M256 = (1 << 256) - 1
M128 = (1 << 128) - 1
M64 = (1 << 64) - 1
rows = []


def h(x):
    return format(x, "x")


def row(*fields):
    rows.append("\t".join(str(f) if isinstance(f, str) else h(f) for f in fields))


def wide(bits):
    """A number of up to `bits` bits, often with runs of ones or zeros."""
    kind = rng.randrange(4)
    if kind == 0:
        return rng.getrandbits(bits)
    if kind == 1:
        return (1 << rng.randrange(1, bits + 1)) - 1
    if kind == 2:
        return 1 << rng.randrange(bits)
    return rng.getrandbits(rng.randrange(1, bits + 1))


def knuth_adds_back(u, v):
    """Whether dividing u by v on 32-bit digits (Knuth's algorithm D) needs
    the rare add-back step."""
    vd = [(v >> (32 * i)) & 0xFFFFFFFF for i in range(4)]
    n = 4
    while vd[n - 1] == 0:
        n -= 1
    if n < 2:
        return False
    s = 32 - vd[n - 1].bit_length()
    vn = v << s
    un = u << s
    digits = [(un >> (32 * i)) & 0xFFFFFFFF for i in range(9)]
    vdig = [(vn >> (32 * i)) & 0xFFFFFFFF for i in range(n)]
    m = 8
    while m > n and ((u >> (32 * (m - 1))) & 0xFFFFFFFF) == 0:
        m -= 1
    for j in range(m - n, -1, -1):
        window = sum(digits[j + i] << (32 * i) for i in range(n + 1))
        num = (digits[j + n] << 32) | digits[j + n - 1]
        qhat, rhat = divmod(num, vdig[n - 1])
        while qhat >= 1 << 32 or qhat * vdig[n - 2] > ((rhat << 32) | digits[j + n - 2]):
            qhat -= 1
            rhat += vdig[n - 1]
            if rhat >= 1 << 32:
                break
        if qhat * vn > window:
            return True
        rest = window - (window // vn) * vn
        for i in range(n + 1):
            digits[j + i] = (rest >> (32 * i)) & 0xFFFFFFFF
    return False


# Sums that carry through every limb, and random ones that fit.
for a, b in [(0, 0), (M64, 1), (M64, M64), ((1 << 192) - 1, 1), (M256 - 1, 1), (M256, 0),
             (M128, M128), (1 << 255, (1 << 255) - 1)]:
    row("add", a, b, a + b)
for _ in range(60):
    a = wide(256)
    b = wide(256) % (M256 - a + 1)
    row("add", a, b, a + b)

# Full 128 x 128 products.
for a, b in [(0, M128), (1, M128), (M128, M128), (10**38 - 1, 10**38 - 1), (1 << 64, 1 << 64),
             (M64, M64 + 2), (1 << 127, 2)]:
    row("mul", a, b, a * b)
for _ in range(60):
    a, b = wide(128), wide(128)
    row("mul", a, b, a * b)

# Decimal shifts left.
for k in [0, 1, 18, 19, 20, 38, 39, 57, 76, 77]:
    row("mulpow10", 1, str(k), 10**k)
row("mulpow10", 10**38 - 1, "38", (10**38 - 1) * 10**38)
row("mulpow10", M128, "38", M128 * 10**38)
for _ in range(40):
    k = rng.randrange(0, 78)
    a = rng.getrandbits(max(1, int((77 - k) * 3.32)))
    row("mulpow10", a, str(k), a * 10**k)

# Division by one limb and decimal shifts right.
for a in [0, 1, M256, 10**77, 10**77 - 1, 10**38, M128, 1 << 192]:
    for d in [1, 3, 10, 10**19, M64]:
        row("divsmall", a, d, a // d, a % d)
    for k in range(1, 20):
        row("divpow10", a, str(k), a // 10**k, a % 10**k)
for _ in range(60):
    a, k = wide(256), rng.randrange(1, 20)
    row("divpow10", a, str(k), a // 10**k, a % 10**k)

# Long division: one-limb divisors, divisors just past one limb, zero middle
# digits, a dividend smaller than the divisor, and the add-back step.
cases = [(0, 7), (M256, 1), (M256, M64), (M256, M64 + 1), (M256, M128), (M256, (1 << 64) + 1),
         (M256, (1 << 96) + 1), (M128 - 5, M128), (12345, 1 << 100), (10**77, 10**38 - 1),
         ((10**38 - 1) ** 2, 10**38 - 1), ((10**38 - 1) ** 2 + 10**38 - 2, 10**38 - 1), (1 << 255, (1 << 127) + 1)]
added_back = 0
while added_back < 12:
    v = wide(128) | (1 << rng.randrange(33, 128))
    u = wide(256)
    if knuth_adds_back(u, v):
        cases.append((u, v))
        added_back += 1
for _ in range(80):
    v = wide(128) or 1
    cases.append((wide(256), v))
for u, v in cases:
    row("div", u, v, u // v, u % v)

# Digit counts at every power of ten.
row("digits", 0, "0")
for k in range(0, 78):
    row("digits", 10**k, str(k + 1))
    if k:
        row("digits", 10**k - 1, str(k))
row("digits", M256, str(len(str(M256))))
row("digits", M128, str(len(str(M128))))

# Products and powers of ten modulo a 128-bit number.
for x, y, m in [(M128, M128, M128), (M128 - 1, M128 - 1, M128), (10**38 - 1, 10**38 - 1, 10**37 + 3), (5, 7, 1),
                (1 << 127, 2, (1 << 127) + 1)]:
    row("mulmod", x, y, m, x * y % m)
for _ in range(30):
    m = wide(128) or 1
    x, y = wide(128) % m, wide(128) % m
    row("mulmod", x, y, m, x * y % m)
for k, m in [(0, 1), (0, 7), (1, 7), (38, 10**38), (39, 10**38), (255, M128), (1000, M128 - 2), (254, 3)]:
    row("pow10mod", str(k), m, pow(10, k, m))

# Division by 10^k as multiplication by a reciprocal: 128-bit dividends for
# every k, and dividends of up to 256 bits with a quotient below 2^128, where
# the quotient is also estimated to 64 bits after the point (the last field
# is floor(a * 2^64 / 10^k)).
fine = random.Random(18)
for k in range(0, 39):
    for a in [0, 1, 10**k - 1, 10**k, 10**k + 1, 10**38 - 1, M128, M128 - 10**k + 1, fine.getrandbits(128)]:
        row("quotpow10", a, str(k), a // 10**k, a % 10**k)
for k in range(1, 39):
    top = (1 << 128) * 10**k - 1
    picks = [10**k, 10**(38 + k) - 1, top, top - fine.getrandbits(64), 5 * 10**(k - 1) + 10**(37 + k),
             (2 * fine.randrange(10**37) + 1) * 5 * 10**(k - 1)]
    picks += [fine.randrange(10**(37 + k), 10**(38 + k)) for _ in range(6)]
    picks += [fine.randrange(1, top) for _ in range(2)]
    for a in picks:
        row("widequot", a, str(k), a // 10**k, a % 10**k, (a << 64) // 10**k)
print("\n".join(rows))
