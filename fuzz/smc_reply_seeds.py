#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_smc_reply into corpus/smc_reply/.

The target answers each SMC exchange from its input (see FuzzedSMCDriver in
smc_reply_fuzzer.cpp): a mode byte (0x80 and up: the next 80 bytes are the whole reply; a low
nibble of 0: the exchange fails; 1: a result byte follows; otherwise success), then for a
key-information request the claimed size and a type choice (0 "flt ", 1 "fpe2", 2 "ui8 ",
3 "si16"), for a read the value bytes. The seeds below walk the target's own sequence of reads:
four direct key reads, three fan samples, then the memory-key probe and two memory reads.

Run from anywhere: python3 fuzz/smc_reply_seeds.py
"""
import os
import random
import struct

FLT, FPE2, UI8, SI16 = 0, 1, 2, 3


def info(size, kind):
    return bytes([0x02, size, kind])


def value(data):
    return bytes([0x02]) + data


def flt(x):
    return info(4, FLT) + value(struct.pack('<f', x))


def fpe2(rpm):
    raw = int(rpm * 4)
    return info(2, FPE2) + value(bytes([raw >> 8, raw & 0xFF]))


def ui8(n):
    return info(1, UI8) + value(bytes([n]))


def unknown():  # the driver's 0x84: no such key
    return bytes([0x01, 0x84])


def failed():
    return bytes([0x00])


def two_fans():
    seed = ui8(2) + flt(1200.0) + flt(41.5) + ui8(2)
    # Sample 1: count, speeds (fan 1 answers fpe2, so it is asked twice), then the limits.
    seed += ui8(2) + flt(1200.0) + fpe2(1280.0) + fpe2(1280.0)
    seed += flt(1000.0) + flt(4900.0) + unknown() + flt(5200.0)
    # Samples 2 and 3: speeds only; one exchange fails.
    seed += flt(1250.5) + flt(1300.0) + failed() + failed() + failed() + flt(990.0)
    # The memory probe keeps TRD0 and TRD2, then reads them.
    seed += flt(41.5) + unknown() + flt(43.25) + unknown() * 18
    seed += flt(42.0) + flt(44.0) + flt(40.0) + failed()
    return seed


def hostile_values():
    nan, inf = float('nan'), float('inf')
    seed = ui8(3) + flt(nan) + flt(-inf) + ui8(0)
    seed += ui8(3) + flt(nan) + flt(inf) + flt(-1200.0)
    seed += flt(inf) + flt(nan) + flt(-inf) + flt(3.4e38) + flt(0.0) + flt(-0.0)
    seed += flt(nan) + flt(inf) + flt(1e-45)
    seed += flt(nan) + flt(inf) + flt(-5.0) + flt(3.4e38) + unknown() * 17
    seed += flt(nan) + flt(inf) + flt(-5.0) + flt(3.4e38)
    return seed


def odd_sizes():
    seed = info(0, UI8) + value(b'') + info(33, FLT) + info(255, FLT) + info(32, FLT) + value(bytes(range(32)))
    seed += info(1, UI8) + value(b'\xff')  # 255 fans
    seed += info(3, FLT) + value(b'\x00\x00\x80') + info(2, FLT) + value(b'\x00\x00')
    seed += info(1, FPE2) + value(b'\xff') + info(4, SI16) + value(b'\x01\x02\x03\x04')
    return seed


def raw_blocks():
    rng = random.Random(20261206)
    seed = b''
    for _ in range(8):
        seed += bytes([0x80]) + bytes(rng.randrange(256) for _ in range(80))
    return seed


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'smc_reply')
    os.makedirs(out, exist_ok=True)
    for name, seed in [('two-fans', two_fans()), ('hostile-values', hostile_values()),
                       ('odd-sizes', odd_sizes()), ('raw-blocks', raw_blocks())]:
        with open(os.path.join(out, name), 'wb') as f:
            f.write(seed)


if __name__ == '__main__':
    main()
