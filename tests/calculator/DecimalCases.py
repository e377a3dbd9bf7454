#!/usr/bin/env python3
"""Writes DecimalCases.tsv: operations of the 38-digit decimal type with the
answers of Python's decimal module in the same arithmetic (38 digits,
exponents -128..127, one rounding per operation). Run it again only to change
the cases: python3 DecimalCases.py > DecimalCases.tsv"""
import decimal
import random
from decimal import Decimal

MODES = {"Bankers": decimal.ROUND_HALF_EVEN, "Plain": decimal.ROUND_HALF_UP,
         "Down": decimal.ROUND_FLOOR, "Up": decimal.ROUND_CEILING}
ERRORS = ["NoError", "LossOfPrecision", "Underflow", "Overflow", "DivideByZero"]


def context(mode="Bankers"):
    return decimal.Context(prec=38, rounding=MODES[mode], Emax=164, Emin=-91, clamp=1, traps=[])


def text_of(d):
    if d.is_nan() or d.is_infinite():
        return "NaN"
    if d == 0:
        return "0"
    # Compact scientific form; the test compares values, not spellings.
    return str(d.normalize(decimal.Context(prec=100, Emax=999, Emin=-999)))


def outcome(ctx, value):
    f = ctx.flags
    if f[decimal.Overflow]:
        return "NaN", "Overflow"
    if f[decimal.DivisionByZero] or f[decimal.InvalidOperation]:
        return "NaN", "DivideByZero"
    if f[decimal.Underflow]:
        return text_of(value), "Underflow"
    if f[decimal.Inexact]:
        return text_of(value), "LossOfPrecision"
    return text_of(value), "NoError"


def rank(e):
    return ERRORS.index(e)


def random_value(rng):
    shape = rng.random()
    digits = rng.choice([1, 1, 2, 5, 10, 19, 20, 30, 37, 38, 38, 38])
    if shape < 0.1:
        mantissa = int("9" * digits)
    elif shape < 0.2:
        mantissa = int("5" + "0" * (digits - 1)) if rng.random() < 0.5 else int("1" + "0" * (digits - 2) + "5") if digits > 1 else 5
    else:
        mantissa = rng.randrange(10 ** (digits - 1), 10 ** digits)
    r = rng.random()
    if r < 0.6:
        exponent = rng.randint(-45, 20)
    elif r < 0.8:
        exponent = rng.randint(-128, -80)
    else:
        exponent = rng.randint(80, 127)
    exponent = max(-128, min(127, exponent))
    d = Decimal((rng.random() < 0.35, tuple(int(c) for c in str(mantissa)), exponent))
    return text_of(d.normalize(decimal.Context(prec=100, Emax=999, Emin=-999)))


def row(op, a, b, mode, expected, error):
    return "\t".join((op, a, b, mode, expected, error))


def binary(op, a, b, mode):
    ctx = context(mode)
    x, y = Decimal(a), Decimal(b)
    value = {"add": ctx.add, "subtract": ctx.subtract, "multiply": ctx.multiply,
             "divide": ctx.divide}[op](x, y)
    return outcome(ctx, value)


def power(a, n, mode):
    # Square-and-multiply from the right, each product rounded, as the type does.
    result, base, worst = Decimal(1), Decimal(a), "NoError"
    while n:
        if n & 1:
            ctx = context(mode)
            result = ctx.multiply(result, base)
            text, err = outcome(ctx, result)
            worst = max(worst, err, key=rank)
            if text == "NaN":
                return "NaN", worst
        n >>= 1
        if n:
            ctx = context(mode)
            base = ctx.multiply(base, base)
            text, err = outcome(ctx, base)
            worst = max(worst, err, key=rank)
            if text == "NaN":
                return "NaN", worst
    return text_of(result), worst


def round_to(a, scale, mode):
    x = Decimal(a)
    if x.as_tuple().exponent >= -scale:
        return text_of(x), "NoError"
    ctx = context(mode)
    value = x.quantize(Decimal(1).scaleb(-scale), rounding=MODES[mode], context=decimal.Context(prec=200))
    exact = value == x
    return text_of(value), "NoError" if exact else "LossOfPrecision"


def compare(a, b):
    if a == "NaN" or b == "NaN":
        return str(0 if a == b else (-1 if a == "NaN" else 1))
    x, y = Decimal(a), Decimal(b)
    return str((x > y) - (x < y))


def literal(rng):
    digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 60)))
    if rng.random() < 0.3:
        digits = "0" * rng.randint(0, 5) + digits
    if rng.random() < 0.6:
        cut = rng.randint(0, len(digits))
        digits = digits[:cut] + "." + digits[cut:]
    if rng.random() < 0.6:
        digits += rng.choice("eE") + rng.choice(["", "+", "-"]) + str(rng.randint(0, 200))
    return digits


def full(rng, digits=38):
    return rng.randrange(10 ** (digits - 1), 10 ** digits)


def value(mantissa, exponent, negative=False):
    return text_of(Decimal((negative, tuple(int(c) for c in str(mantissa)), exponent)))


def tie_factors(rng):
    """Two operands of 20 to 38 digits whose product lies exactly half way
    between two 38-digit numbers: (odd * 5^(z + 1)) * (odd * 2^z) ends in 5
    followed by z zeros, z digits beyond the 38 kept."""
    while True:
        z = rng.randint(1, 36)
        a = (2 * rng.randrange(10 ** rng.randint(5, 20)) + 1) * 5 ** (z + 1)
        b = (2 * rng.randrange(10 ** rng.randint(5, 20)) + 1) * 2 ** z
        digits = len(str(a * b))
        if len(str(a)) <= 38 and len(str(b)) <= 38 and a >= 2 ** 64 and b >= 2 ** 64 and digits == 39 + z:
            return a, b


def short_cuts(rng):
    """Sums and products of full 38-digit operands, in every mode: exponent
    differences from 0 to 80, carries into a 39th digit, dropped parts of
    exactly one half, and exponents at both ends of the range."""
    rows = []
    for _ in range(500):
        a, b = full(rng), full(rng, rng.choice([38, 38, 38, 37, 30, 20, 5, 1]))
        if rng.random() < 0.2:
            a = int("9" * rng.randint(30, 38) + "0" * 8) % 10 ** 38 or a
            a = a // 10 ** (len(str(a)) - 38) if len(str(a)) > 38 else a
        ea = rng.randint(-60, 60)
        eb = ea - rng.randint(0, 80)
        if rng.random() < 0.1:
            ea, eb = rng.randint(100, 127), rng.randint(60, 127)
        x, y = value(a, ea), value(b, max(-128, eb), rng.random() < 0.1)
        if rng.random() < 0.5:
            x, y = y, x
        op = "add" if rng.random() < 0.8 else "subtract"
        rows.append((op, x, y, rng.choice(list(MODES))))
    for _ in range(200):
        # The dropped part exactly half a unit: b's digits below a's last
        # kept digit are 5 then zeros.
        shift = rng.randint(1, 37)
        a = full(rng)
        b = (rng.randrange(10 ** (37 - shift)) * 10 + 5) * 10 ** (shift - 1) if shift < 37 else 5 * 10 ** 36
        e = rng.randint(-60, 60)
        rows.append(("add", value(a, e), value(b, e - shift), rng.choice(list(MODES))))
    for _ in range(500):
        a, b = full(rng, rng.choice([38, 38, 30, 25, 21])), full(rng, rng.choice([38, 38, 30, 25, 21]))
        ea, eb = rng.randint(-70, 60), rng.randint(-70, 60)
        if rng.random() < 0.15:
            ea, eb = rng.randint(-128, -90), rng.randint(-128, -20)
        elif rng.random() < 0.15:
            ea, eb = rng.randint(60, 127), rng.randint(20, 127)
        rows.append(("multiply", value(a, ea, rng.random() < 0.3), value(b, eb, rng.random() < 0.3),
                     rng.choice(list(MODES))))
    for _ in range(200):
        a, b = tie_factors(rng)
        rows.append(("multiply", value(a, rng.randint(-40, 20), rng.random() < 0.5), value(b, rng.randint(-40, 20)),
                     rng.choice(list(MODES))))
    return [row(op, x, y, mode, *binary(op, x, y, mode)) for op, x, y, mode in rows]


def main():
    rng = random.Random(20261208)
    rows = []
    fixed = [("add", "99999999999999999999999999999999999999", "1"),
             ("divide", "1", "3"), ("divide", "2", "3"), ("divide", "1", "0"), ("divide", "0", "0"),
             ("multiply", "1" + "0" * 100, "1" + "0" * 100),
             ("multiply", "0." + "0" * 99 + "1", "0." + "0" * 99 + "1"),
             ("add", "1" + "0" * 50, "1.234"), ("subtract", "1" + "0" * 50, "1.234"),
             ("subtract", "1" + "0" * 38, "0.5"), ("add", "1" + "0" * 37, "0.5"),
             ("add", "1" + "0" * 37, "1.5"), ("subtract", "-1", "-1")]
    for op, a, b in fixed:
        for mode in MODES:
            rows.append(row(op, a, b, mode, *binary(op, a, b, mode)))
    for _ in range(2400):
        op = rng.choice(["add", "subtract", "multiply", "divide"])
        a, b = random_value(rng), random_value(rng)
        if op in ("add", "subtract") and rng.random() < 0.5:
            # Close exponents, where carries and cancellation happen.
            b = text_of(Decimal(b).scaleb(Decimal(a).adjusted() - Decimal(b).adjusted() + rng.randint(-3, 3)))
            if not (-128 <= Decimal(b).as_tuple().exponent <= 127):
                continue
        mode = "Bankers" if rng.random() < 0.7 else rng.choice(list(MODES))
        rows.append(row(op, a, b, mode, *binary(op, a, b, mode)))
    for _ in range(300):
        a = random_value(rng)
        if rng.random() < 0.5:
            a = text_of(Decimal(a).scaleb(-Decimal(a).adjusted() + rng.randint(-2, 1)))
        n = rng.choice([0, 1, 2, 3, 7, 10, 25, 64, 100, 1000, rng.randint(0, 300), 2 ** 64 - 1])
        rows.append(row("power", a, str(n), "Bankers", *power(a, n, "Bankers")))
    for _ in range(300):
        a = random_value(rng)
        if rng.random() < 0.5:
            a = text_of(Decimal(a).scaleb(-Decimal(a).adjusted() + rng.randint(0, 3)))
        scale = rng.randint(-3, 40)
        mode = rng.choice(list(MODES))
        rows.append(row("round", a, str(scale), mode, *round_to(a, scale, mode)))
    for a, mode in [("-1.5", m) for m in MODES] + [("2.5", "Bankers"), ("3.5", "Bankers"), ("-2.5", "Plain")]:
        rows.append(row("round", a, "0", mode, *round_to(a, 0, mode)))
    wide = decimal.Context(prec=1000, Emax=9999, Emin=-9999)
    for _ in range(400):
        a, b = random_value(rng), random_value(rng)
        if rng.random() < 0.3:
            b = rng.choice(["7", "3", "-7", "0.3", "1E+100", "99999999999999999999999999999999999999"])
        rows.append(row("remainder", a, b, "Bankers", text_of(wide.remainder(Decimal(a), Decimal(b))), "NoError"))
    rows.append(row("remainder", "1", "0", "Bankers", "NaN", "DivideByZero"))
    for _ in range(300):
        a = random_value(rng) if rng.random() > 0.05 else "NaN"
        b = random_value(rng) if rng.random() > 0.05 else "NaN"
        if rng.random() < 0.3 and a != "NaN":
            b = text_of(Decimal(a).normalize() * 1) if rng.random() < 0.5 else text_of(Decimal(a).next_plus(context()))
        rows.append(row("compare", a, b, "Bankers", compare(a, b), "NoError"))
    for _ in range(500):
        text = literal(rng)
        ctx = context()
        rows.append(row("parse", text, "", "Bankers", *outcome(ctx, ctx.create_decimal(text))))
    for _ in range(300):
        a = random_value(rng)
        rows.append(row("toDouble", a, "", "Bankers", repr(float(Decimal(a))), "NoError"))
        v = rng.choice([rng.uniform(-1e6, 1e6), rng.random() * 10.0 ** rng.randint(-300, 300),
                        rng.random(), float(rng.randint(-2**53, 2**53))])
        ctx = context()
        rows.append(row("fromDouble", repr(v), "", "Bankers", *outcome(ctx, ctx.create_decimal(repr(v)))))
    rows += short_cuts(random.Random(18))
    print("# Generated by DecimalCases.py; do not edit. op, a, b, mode, expected, error")
    print("\n".join(rows))


main()
