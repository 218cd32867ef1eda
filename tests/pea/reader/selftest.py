#!/usr/bin/python3
"""Self-test of pea_reader.py against archives made by a minimal writer here.

Run: /usr/bin/python3 tests/pea/reader/selftest.py
"""
import contextlib
import hashlib
import hmac
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # leave no cache beside the sources
import pea_reader as pr  # noqa: E402
from Cryptodome.Cipher import AES  # noqa: E402

READER = os.path.join(HERE, "pea_reader.py")
SALT = bytes(range(1, 13))
TEXT = b"".join(b"line %d of some compressible text\n" % i for i in range(200))


class Mode48:
    """Counter blocks built by hand so the reader's counter handling is checked."""

    def __init__(self, keys):
        self.aes, self.counter, self.stream = AES.new(keys[:16], AES.MODE_ECB), 0, b""
        self.mac = hmac.new(keys[16:32], digestmod="sha1")

    def encrypt(self, data):
        while len(self.stream) < len(data):
            self.stream += self.aes.encrypt(self.counter.to_bytes(16, "big"))
            self.counter += 1
        out = bytes(a ^ b for a, b in zip(data, self.stream))
        self.stream = self.stream[len(data):]
        self.mac.update(out)
        return out

    def tag(self):
        return self.mac.digest()[:16]


def header(vol, stream, obj, comp, times):
    return bytes([0xEA, 1, 0, vol, 0, 0x11, times, 1, 0x13, 0, 0, 0]) + b"POD" + \
        bytes([0, comp, 0, stream, obj])


def build(objects, vol=2, stream=2, obj=2, comp=0, times=48, password=b"", key=b"",
          fault=None):
    """objects: (name, content or None for a folder, raw time, attributes)."""
    head = header(vol, stream, obj, comp, times)
    out = bytearray(head)
    if stream in pr.CIPHERS:
        keys = pr.derive_keys(stream, password[:250] + head + b"\0\0" + key[:2048], SALT)
        out += b"\0\0" + SALT + keys[-2:]
        if stream == 48:
            cipher = Mode48(keys)
            encrypt, tag = cipher.encrypt, cipher.tag
        else:
            n = 16 if stream == 49 else 32
            eax = AES.new(keys[:n], AES.MODE_EAX, nonce=keys[n:2 * n], mac_len=16)
            encrypt, tag = eax.encrypt, eax.digest
    else:
        stream_check = pr.Check(stream)
        stream_check.update(head)
        encrypt, tag = (lambda b: stream_check.update(b) or b), stream_check.result

    def put(data):
        out.extend(encrypt(bytes(data)))

    if comp:
        put(struct.pack("<I", pr.BLOCK_SIZE))
    for name, content, when, attr in objects:
        check = pr.Check(obj)
        raw_name = name.encode()
        record = struct.pack("<H", len(raw_name)) + raw_name + struct.pack("<II", when, attr)
        if content is not None:
            record += struct.pack("<Q", len(content))
        check.update(record)
        put(record)
        if content and not comp:
            check.update(content)
            put(content)
        for i in range(0, len(content or b"") if comp else 0, pr.BLOCK_SIZE):
            piece = content[i:i + pr.BLOCK_SIZE]
            packed = zlib.compress(piece, 3 * comp)
            if fault == "raw deflate":
                z = zlib.compressobj(3 * comp, wbits=-15)
                packed = z.compress(piece) + z.flush()
            if fault == "trailing byte":
                packed += b"\0"
            stored = packed if len(packed) < len(piece) else piece
            for part in (struct.pack("<I", len(stored)), piece):
                check.update(part)
            put(struct.pack("<I", len(stored)))
            put(stored)
        if comp and content:
            final = struct.pack("<I", len(piece) + (fault == "final length"))
            check.update(final)
            put(final)
        put(check.result())
    put(b"\0\0EOA\0")
    out += tag()
    vcheck = pr.Check(vol)
    vcheck.update(bytes(out))
    return bytes(out + vcheck.result())


def split(archive, base, volume_size):
    tsize = pr.CHECKS[archive[3]][1]
    data, n = archive[:len(archive) - tsize], 0
    for n, i in enumerate(range(0, len(data), volume_size - tsize), 1):
        piece = data[i:i + volume_size - tsize]
        check = pr.Check(archive[3])
        check.update(piece)
        with open(f"{base}.{n:06d}.pea", "wb") as f:
            f.write(piece + check.result())
    return n


def run(*args):
    p = subprocess.run(["/usr/bin/python3", READER, *args], capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def run_quiet(*args):
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        return pr.main(list(args))


# ---------------------------------------------------------------- archives

T0 = 1204372800  # 2008-03-01 12:00:00 UTC
DOS = (28 << 25) | (3 << 21) | (1 << 16) | (12 << 11)  # 2008-03-01 12:00:00
RANDOM = random.Random(7).randbytes(pr.BLOCK_SIZE)
# Three blocks, the middle one incompressible and so stored raw.
BIG = (TEXT * 200)[:pr.BLOCK_SIZE] + RANDOM + TEXT * 60

CASES = {
    "stored": (dict(vol=0, stream=2, obj=2, comp=0),
               [("a.txt", b"hello, world\n", T0, 0x20), ("sub\\", None, T0, 0x10),
                ("sub\\empty", b"", T0, 0x20), ("dir/x.txt", b"xyz", T0, 0x21)]),
    "example": (dict(vol=2, stream=49, obj=19, comp=2, times=16, password="pässword".encode()),
                [("a.txt", TEXT[:4096], DOS, 0x20)]),
    "keyfile": (dict(vol=16, stream=48, obj=3, comp=1, password=b"pw", key=bytes(range(256)) * 9),
                [("three", b"abc", T0, 0x20), ("text.txt", TEXT, T0, 0x20)]),
    "aes256": (dict(vol=20, stream=65, obj=21, comp=3, password=b"secret"),
               [("f\\", None, T0, 0x10), ("f\\empty", b"", T0, 0x20), ("f\\t", TEXT, T0, 0x20)]),
    "big": (dict(vol=17, stream=18, obj=1, comp=2), [("big.bin", BIG, T0, 0x20)]),
    "plain": (dict(vol=0, stream=0, obj=0, comp=1), [("n", TEXT, T0, 0x20), ("d\\", None, T0, 0x10)]),
    "small fast": (dict(vol=0, stream=0, obj=2, comp=1),
                   [("t", TEXT[:300], T0, 0x20), ("d\\", None, T0, 0x10), ("e", b"12", T0, 0x20)]),
    "small aes": (dict(vol=0, stream=48, obj=0, comp=0, key=b"k"), [("a", b"data", T0, 0x20)]),
}


def secrets_of(opts, key_path):
    args = ["--password", opts["password"].decode()] if opts.get("password") else []
    return args + (["--key-file", key_path] if opts.get("key") else [])


def write_case(tmp, name):
    opts, objects = CASES[name]
    path = os.path.join(tmp, name.replace(" ", "_") + ".pea")
    with open(path, "wb") as f:
        f.write(build(objects, **opts))
    with open(path + ".key", "wb") as f:
        f.write(opts.get("key", b""))
    return path, secrets_of(opts, path + ".key")


# ---------------------------------------------------------------- tests

def test_primitives(tmp):
    assert pr.crc64_update(pr.MASK64, b"123456789") ^ pr.MASK64 == 0x62EC59E3F1A4F00A
    assert zlib.crc32(b"123456789") == 0xCBF43926
    slow = pr.pbkdf2_slow(pr.hmac_whirlpool, b"k" * 70, SALT, 2, 66)
    assert slow == pr.pbkdf2_whirlpool(b"k" * 70, SALT, 2, 66)
    assert pr.OpensslDigest("sha256").digest() == hashlib.sha256().digest()


def test_header_example(tmp):
    want = bytes.fromhex("EA 01 00 02 00 11 10 01 13 00 00 00 50 4F 44 00 02 00 31 13")
    assert header(2, 49, 19, 2, 16) == want
    path, secrets = write_case(tmp, "example")
    with open(path, "rb") as f:
        assert f.read(20) == want
    rc, out, _ = run(path, "--json", *secrets)
    report = json.loads(out)
    assert rc == 0 and report["ok"]
    assert (report["volume_check"], report["stream_check"], report["object_check"]) == \
        ("CRC32", "AES-128 & OMAC-AES", "SHA-256")
    obj = report["objects"][0]
    assert obj["time"] == "2008-03-01 12:00:00 local" and obj["size"] == 4096
    assert obj["packed_size"] == 4 + len(zlib.compress(TEXT[:4096], 6))
    rc, out, _ = run(path, *secrets)
    assert rc == 0 and "Stream control tag (AES-128 & OMAC-AES)" in out, out


def test_archives_verify_and_extract(tmp):
    for name, (opts, objects) in CASES.items():
        path, secrets = write_case(tmp, name)
        dest = os.path.join(tmp, "out-" + name)
        rc, out, err = run(path, "--json", "--extract", dest, *secrets)
        assert rc == 0, (name, err)
        report = json.loads(out)
        listed = [(o["name"], o["kind"], o["size"]) for o in report["objects"]]
        assert listed == [(n.replace("/", "\\"), "file" if c is not None else "folder", len(c or b""))
                          for n, c, _, _ in objects], (name, listed)
        for n, content, _, _ in objects:
            target = os.path.join(dest, *n.replace("\\", "/").rstrip("/").split("/"))
            if content is None:
                assert os.path.isdir(target), target
            else:
                with open(target, "rb") as f:
                    assert f.read() == content, target
        if name == "big":
            assert report["objects"][0]["packed_size"] > 4 + pr.BLOCK_SIZE
    path, secrets = write_case(tmp, "keyfile")
    report = json.loads(run(path, "--json", *secrets)[1])
    assert report["objects"][0]["packed_size"] == 7  # u32 3 and the three raw bytes
    assert report["objects"][0]["unix_time"] == T0


def test_every_damage_is_found(tmp):
    for name in ("stored", "small fast", "small aes"):
        path, secrets = write_case(tmp, name)
        assert run_quiet(path, *secrets) == 0, name
        with open(path, "rb") as f:
            good = f.read()
        damaged = os.path.join(tmp, "damaged.pea")
        variants = [good[:i] + bytes([good[i] ^ x]) + good[i + 1:]
                    for i in range(len(good)) for x in (0x01, 0xFF)]
        variants += [good[:i] for i in range(len(good))] + [good + b"\0"]
        for i, data in enumerate(variants):
            with open(damaged, "wb") as f:
                f.write(data)
            assert run_quiet(damaged, *secrets) == 1, (name, i)


def test_messages_name_the_fault(tmp):
    path, secrets = write_case(tmp, "example")
    rc, out, _ = run(path, "--json", "--password", "wrong")
    assert rc == 1 and json.loads(out)["offset"] == 34 and "verifier" in out
    with open(path, "r+b") as f:
        f.seek(100)
        byte = f.read(1)
        f.seek(100)
        f.write(bytes([byte[0] ^ 4]))
    rc, _, err = run(path, *secrets)
    assert rc == 1 and "volume control tag" in err, err
    for fault, words in (("raw deflate", "zlib header"), ("final length", "final length field"),
                         ("trailing byte", "follow the end of the zlib stream")):
        data = build(CASES["small fast"][1], vol=0, stream=0, obj=2, comp=1, fault=fault)
        with open(path, "wb") as f:
            f.write(data)
        rc, _, err = run(path)
        assert rc == 1 and words in err, (fault, err)
    for length, rc in ((2047, 0), (2048, 1)):
        with open(path, "wb") as f:
            f.write(build([("n" * length, b"x", T0, 0x20)], vol=0, stream=2, obj=2))
        assert run_quiet(path) == rc, length
    with open(path, "wb") as f:
        f.write(build([("..\\escape", b"x", T0, 0x20)], vol=0, stream=2, obj=2))
    rc, _, err = run(path, "--extract", os.path.join(tmp, "x", "y"))
    assert rc == 1 and "unsafe" in err and not os.path.exists(os.path.join(tmp, "x", "escape"))
    data = bytearray(build(CASES["stored"][1], vol=0, stream=0, obj=2, comp=0))
    data[45] ^= 1  # inside the first object's content
    for words in ("object control tag",):
        with open(path, "wb") as f:
            f.write(data)
        rc, _, err = run(path)
        assert rc == 1 and words in err, (fault, err)


def test_volumes(tmp):
    data = build([("r.bin", RANDOM[:5000], T0, 0x20)], vol=2, stream=19, obj=2)
    vols = os.path.join(tmp, "vols")
    os.makedirs(vols)
    count = split(data, os.path.join(vols, "a"), 1024)
    first = os.path.join(vols, "a.000001.pea")
    rc, out, err = run("--volumes", first, "--json")
    assert rc == 0 and json.loads(out)["volumes"] == count == 5, err
    with open(os.path.join(vols, "a.000002.pea"), "r+b") as f:
        f.write(b"\xff")
    rc, _, err = run("--volumes", first)
    assert rc == 1 and "a.000002.pea" in err, err
    untagged = build([("r.bin", RANDOM[:3000], T0, 0x20)], vol=0, stream=2, obj=2)
    assert split(untagged, os.path.join(vols, "b"), 1024) == 3
    assert run("--volumes", os.path.join(vols, "b.000001.pea"))[0] == 0
    os.remove(os.path.join(vols, "b.000002.pea"))  # volume 3 is no longer reached
    assert run("--volumes", os.path.join(vols, "b.000001.pea"))[0] == 1


def test_usage(tmp):
    assert run()[0] == 2
    assert run(os.path.join(tmp, "missing.pea"))[0] == 2
    assert run("x.pea", "--bogus")[0] == 2
    assert run("--volumes", os.path.join(tmp, "stored.pea"))[0] == 2


def main():
    passed = failed = 0
    for name, test in [(n, t) for n, t in globals().items() if n.startswith("test_")]:
        tmp = tempfile.mkdtemp()
        try:
            test(tmp)
            passed += 1
            print(f"ok   {name}")
        except Exception as e:
            failed += 1
            print(f"FAIL {name}: {type(e).__name__} {e}")
        finally:
            shutil.rmtree(tmp)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
