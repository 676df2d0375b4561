# Writes an FLV file of ten Sorenson H.263 frames (key, inter and disposable) that use every part
# of the syntax with random content: all macroblock types with their stuffing codes, quantiser
# changes, one and four vectors (differences of any size, so that vectors wrap and point out of
# the picture), every coefficient code and the escapes of the version given.
#
#   python3 make_h263_syntax.py VERSION WIDTH HEIGHT SIZE_CODE SEED OUT.flv
#
# SIZE_CODE 0 or 1 stores the size in 8 or 16 bits. The values stay where every inverse DCT
# computes them without overflow, so that decoders can be compared on the frames.
import random, struct, sys

INTRA_MCBPC = [(1,1),(1,3),(2,3),(3,3),(1,4),(1,6),(2,6),(3,6),(1,9)]
INTER_MCBPC = [(1,1),(3,4),(2,4),(5,6),(3,3),(7,7),(6,7),(5,9),(2,3),(5,7),(4,7),(5,8),
               (3,5),(4,8),(3,8),(3,7),(4,6),(4,9),(3,9),(2,9),(1,9),None,None,None,
               (2,11),(12,13),(14,13),(15,13)]
CBPY = [(3,4),(5,5),(4,5),(9,4),(3,5),(7,4),(2,6),(11,4),(2,5),(3,6),(5,4),(10,4),(4,4),(8,4),(6,4),(3,2)]
MVD = [(1,1),(1,2),(1,3),(1,4),(3,6),(5,7),(4,7),(3,7),(11,9),(10,9),(9,9),(17,10),(16,10),(15,10),
       (14,10),(13,10),(12,10),(11,10),(10,10),(9,10),(8,10),(7,10),(6,10),(5,10),(4,10),(7,11),
       (6,11),(5,11),(4,11),(3,11),(2,11),(3,12),(2,12)]
TCOEF = [(0x2,2),(0xf,4),(0x15,6),(0x17,7),(0x1f,8),(0x25,9),(0x24,9),(0x21,10),(0x20,10),(0x7,11),
 (0x6,11),(0x20,11),(0x6,3),(0x14,6),(0x1e,8),(0xf,10),(0x21,11),(0x50,12),(0xe,4),(0x1d,8),(0xe,10),
 (0x51,12),(0xd,5),(0x23,9),(0xd,10),(0xc,5),(0x22,9),(0x52,12),(0xb,5),(0xc,10),(0x53,12),(0x13,6),
 (0xb,10),(0x54,12),(0x12,6),(0xa,10),(0x11,6),(0x9,10),(0x10,6),(0x8,10),(0x16,7),(0x55,12),(0x15,7),
 (0x14,7),(0x1c,8),(0x1b,8),(0x21,9),(0x20,9),(0x1f,9),(0x1e,9),(0x1d,9),(0x1c,9),(0x1b,9),(0x1a,9),
 (0x22,11),(0x23,11),(0x56,12),(0x57,12),(0x7,4),(0x19,9),(0x5,11),(0xf,6),(0x4,11),(0xe,6),(0xd,6),
 (0xc,6),(0x13,7),(0x12,7),(0x11,7),(0x10,7),(0x1a,8),(0x19,8),(0x18,8),(0x17,8),(0x16,8),(0x15,8),
 (0x14,8),(0x13,8),(0x18,9),(0x17,9),(0x16,9),(0x15,9),(0x14,9),(0x13,9),(0x12,9),(0x11,9),(0x7,10),
 (0x6,10),(0x5,10),(0x4,10),(0x24,11),(0x25,11),(0x26,11),(0x27,11),(0x58,12),(0x59,12),(0x5a,12),
 (0x5b,12),(0x5c,12),(0x5d,12),(0x5e,12),(0x5f,12),(0x3,7)]
MAXL0 = [12,6,4,3,3,3,3,2,2,2,2] + [1]*16
MAXL1 = [3,2] + [1]*39
EVENTS = [(0,r,l) for r in range(27) for l in range(1,MAXL0[r]+1)] + \
         [(1,r,l) for r in range(41) for l in range(1,MAXL1[r]+1)]
assert len(EVENTS) == 102

class W:
    def __init__(s): s.b = []
    def put(s, v, n):
        for i in range(n-1, -1, -1): s.b.append((v >> i) & 1)
    def code(s, c): s.put(c[0], c[1])
    def bytes(s):
        b = s.b + [0] * (-len(s.b) % 8)
        return bytes(int(''.join(map(str, b[i:i+8])), 2) for i in range(0, len(b), 8))

def block(w, rnd, version, q, first, budget=2047):
    # random events from `first`; keeps dequantised values within +-2047
    i = first
    n = rnd.randint(1, 5)
    # budget: what the sum of the dequantised magnitudes may reach, which no inverse DCT
    # overflows on
    rec = lambda l: abs(l) * 2 * q + (q if q & 1 else q - 1)
    for k in range(n):
        last = k == n - 1 or i == 63
        room = 63 - i if last else 62 - i
        if rnd.random() < 0.3:
            run = rnd.randint(0, min(room, 20))
            limit = max(1, (budget - q) // (2 * q))
            if version == 0:
                lev = rnd.choice([x for x in range(-127, 128) if x and abs(x) <= limit] or [1])
                w.code(TCOEF[102]); w.put(int(last), 1); w.put(run, 6); w.put(lev & 255, 8)
                budget -= rec(lev)
            else:
                wide = rnd.random() < 0.5
                top = min(1023 if wide else 63, limit)
                lev = rnd.choice([x for x in range(-top, top + 1) if x] or [1])
                w.code(TCOEF[102]); w.put(int(wide), 1); w.put(int(last), 1); w.put(run, 6)
                w.put(lev & (2047 if wide else 127), 11 if wide else 7)
                budget -= rec(lev)
        else:
            cands = [j for j, e in enumerate(EVENTS) if e[0] == int(last) and e[1] <= room
                     and (rec(e[2]) <= budget or e[2] == 1)]
            j = rnd.choice(cands)
            run = EVENTS[j][1]
            budget -= rec(EVENTS[j][2])
            w.code(TCOEF[j]); w.put(rnd.randint(0, 1), 1)
        i += run + 1
        if last: break

def picture(rnd, version, width, height, ptype, sizecode):
    w = W()
    w.put(1, 17); w.put(version, 5); w.put(rnd.randint(0, 255), 8); w.put(sizecode, 3)
    if sizecode == 0: w.put(width, 8); w.put(height, 8)
    elif sizecode == 1: w.put(width, 16); w.put(height, 16)
    w.put(ptype, 2); w.put(rnd.randint(0, 1), 1)
    q = rnd.randint(1, 31); w.put(q, 5)
    for _ in range(rnd.randint(0, 2)): w.put(1, 1); w.put(rnd.randint(0, 255), 8)
    w.put(0, 1)
    mbs = ((width + 15) // 16) * ((height + 15) // 16)
    for _ in range(mbs):
        if ptype == 0:
            while rnd.random() < 0.1: w.code(INTRA_MCBPC[8])
            t = rnd.choice([3, 4]); cbpc = rnd.randint(0, 3)
            w.code(INTRA_MCBPC[(t - 3) * 4 + cbpc])
        else:
            while rnd.random() < 0.1: w.put(0, 1); w.code(INTER_MCBPC[20])
            if rnd.random() < 0.15: w.put(1, 1); continue
            w.put(0, 1)
            t = rnd.choice([0, 1, 2, 3, 4, 6]); cbpc = rnd.randint(0, 3)
            w.code(INTER_MCBPC[t * 4 + cbpc])
        intra = t in (3, 4)
        cbpy = rnd.randint(0, 15)
        w.code(CBPY[cbpy if intra else cbpy ^ 15])
        if t in (1, 4, 6):
            d = rnd.randint(0, 3); q = min(31, max(1, q + [-1, -2, 1, 2][d])); w.put(d, 2)
        if not intra:
            for _ in range(4 if t in (2, 6) else 1):
                for _ in range(2):
                    m = rnd.choice([rnd.randint(-32, 32), rnd.randint(-3, 3)])
                    w.code(MVD[abs(m)])
                    if m: w.put(int(m < 0), 1)
        cbp = (cbpy << 2) | cbpc
        for b in range(6):
            coded = (cbp >> (5 - b)) & 1
            if intra:
                dc = rnd.choice(list(range(1, 128)) + [255])
                w.put(dc, 8)
                if coded: block(w, rnd, version, q, 1, 2047 - 8 * (128 if dc == 255 else dc))
            elif coded:
                block(w, rnd, version, q, 0)
    return w.bytes()

def flv(frames):
    out = bytearray(b'FLV\x01\x01\x00\x00\x00\x09\x00\x00\x00\x00')
    for n, (kind, data) in enumerate(frames):
        body = bytes([(kind << 4) | 2]) + data
        out += bytes([9]) + struct.pack('>I', len(body))[1:] + struct.pack('>I', n * 100)[1:] + b'\x00' + b'\x00\x00\x00'
        out += body + struct.pack('>I', len(body) + 11)
    return bytes(out)

def main():
    version, width, height, sizecode, seed, path = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
    rnd = random.Random(seed)
    types = [0, 1, 2, 1, 1, 2, 2, 1, 0, 1]   # key, inter, disposable
    frames = [({0: 1, 1: 2, 2: 3}[t], picture(rnd, version, width, height, t, sizecode)) for t in types]
    open(path, 'wb').write(flv(frames))

main()
