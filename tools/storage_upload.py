"""Puts a published server tree (publish.py --out) into S3-compatible storage, in the order
that keeps every launcher on one whole release: the objects of the new version folder first,
each read back, the version page last. Used by publish.py --upload."""

import base64
import hashlib
import os
import sys

from publish import STATEMENT, PublishError, download_path_problem, version_text_problem

# Debian's python3-boto3 lives here; a python3 of its own (pyenv, a venv) does not look there.
DEBIAN_PACKAGES = "/usr/lib/python3/dist-packages"

# A version folder never changes once written, so a CDN may keep its objects for good.
CACHE_IMMUTABLE = "public, max-age=31536000, immutable"
# The version page decides which folder every launcher reads: a CDN may answer it from its
# cache for 5 s at most, so a release (or a roll-back) reaches everyone within seconds, while
# a crowd of launchers starting at once still costs the storage one request per edge per 5 s.
CACHE_VERSION_PAGE = "public, max-age=5"
VERSION_PAGE = "version.html"

CONTENT_TYPES = {".zip": "application/zip", ".lst": "text/plain; charset=utf-8",
                 ".txt": "text/plain; charset=utf-8", ".html": "text/html; charset=utf-8"}


def _boto3():
    try:
        import boto3
        from botocore.config import Config
    except ImportError:
        # First while boto3 loads, so that it gets the urllib3 it was packaged with; then
        # last, for what boto3 loads later, so that nothing of ours is taken from there.
        sys.path.insert(0, DEBIAN_PACKAGES)
        try:
            import boto3
            from botocore.config import Config
        except ImportError:
            raise PublishError("uploading needs boto3 (Debian: python3-boto3; make deps "
                               "installs it)")
        finally:
            sys.path.remove(DEBIAN_PACKAGES)
            sys.path.append(DEBIAN_PACKAGES)
    return boto3, Config


def parse_target(url):
    """(bucket, prefix without a closing "/") of s3://BUCKET/PREFIX."""
    if not url.startswith("s3://"):
        raise PublishError("--upload takes s3://BUCKET/PREFIX, not %r" % url)
    bucket, _, prefix = url[5:].partition("/")
    prefix = prefix.strip("/")
    if not bucket or "/" in bucket:
        raise PublishError("no bucket in %r" % url)
    if prefix and download_path_problem(prefix):
        raise PublishError("prefix: %s" % download_path_problem(prefix))
    return bucket, prefix


def client(endpoint=None):
    boto3, Config = _boto3()
    s3 = {"addressing_style": "path"} if endpoint else {}
    try:
        # A recent botocore sends every body in aws-chunked form with a trailing checksum,
        # which many S3-compatible servers refuse; each object carries a Content-MD5 and is
        # read back instead.
        config = Config(s3=s3, retries={"max_attempts": 5, "mode": "standard"},
                        request_checksum_calculation="when_required",
                        response_checksum_validation="when_required")
    except TypeError:  # older botocore (Debian 12): never sends those
        config = Config(s3=s3, retries={"max_attempts": 5, "mode": "standard"})
    try:
        return boto3.session.Session().client("s3", endpoint_url=endpoint, config=config)
    except Exception as e:  # no region, a malformed endpoint, a broken profile
        raise PublishError("cannot reach the storage: %s" % e)


def _error_code(e):
    return getattr(e, "response", {}).get("Error", {}).get("Code", "")


def _digests(path):
    md5, sha = hashlib.md5(), hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            size += len(block)
            md5.update(block)
            sha.update(block)
    return size, md5.hexdigest(), sha.hexdigest()


class Storage:
    """One bucket and prefix; every failure becomes a PublishError."""

    def __init__(self, target, endpoint=None, s3=None):
        self.bucket, self.prefix = parse_target(target)
        self.s3 = s3 or client(endpoint)

    def key(self, rel):
        return self.prefix + "/" + rel if self.prefix else rel

    def _call(self, what, fn, **kw):
        try:
            return fn(Bucket=self.bucket, **kw)
        except Exception as e:  # botocore raises many kinds; each stops the upload here
            raise PublishError("%s: %s" % (what, e))

    def read(self, rel, limit=1 << 16):
        """The object's first bytes, or None when there is none."""
        try:
            body = self.s3.get_object(Bucket=self.bucket, Key=self.key(rel))["Body"]
            return body.read(limit)
        except Exception as e:
            if _error_code(e) in ("NoSuchKey", "404"):
                return None
            raise PublishError("reading %s: %s" % (self.key(rel), e))

    def listing(self, rel_folder=""):
        """{path below the prefix: (size, etag without quotes, last modified)}."""
        out = {}
        start = self.key(rel_folder) if rel_folder else (self.prefix + "/" if self.prefix else "")
        try:
            for page in self.s3.get_paginator("list_objects_v2").paginate(Bucket=self.bucket,
                                                                          Prefix=start):
                for o in page.get("Contents", []):
                    rel = o["Key"][len(self.prefix) + 1:] if self.prefix else o["Key"]
                    out[rel] = (o["Size"], o["ETag"].strip('"'), o["LastModified"])
        except Exception as e:
            raise PublishError("listing %s: %s" % (start or "the bucket", e))
        return out

    def live_version(self):
        data = self.read(VERSION_PAGE)
        text = data.decode("utf-8", "replace").strip() if data is not None else ""
        return None if version_text_problem(text) else text

    def live_sequence(self):
        """The sequence of the live release's statement, or 0."""
        version = self.live_version()
        data = self.read(version + "/" + STATEMENT) if version else None
        for line in (data or b"").split(b"\n"):
            if line.startswith(b"sequence ") and line[9:].isdigit():
                return int(line[9:])
        return 0

    def put(self, rel, path, cache_control):
        """Uploads one file and reads it back: its size, and its MD5 from the ETag or, where
        the ETag is no MD5 (server-side encryption), its SHA-256 from the bytes."""
        size, md5, sha = _digests(path)
        key = self.key(rel)
        with open(path, "rb") as f:
            self._call("uploading " + key, self.s3.put_object, Key=key, Body=f,
                       ContentLength=size, CacheControl=cache_control,
                       ContentMD5=base64.b64encode(bytes.fromhex(md5)).decode("ascii"),
                       ContentType=CONTENT_TYPES.get(os.path.splitext(rel)[1],
                                                     "application/octet-stream"))
        head = self._call("reading back " + key, self.s3.head_object, Key=key)
        if head.get("ContentLength") != size:
            raise PublishError("%s reads back as %s bytes, not %d" % (key, head.get(
                "ContentLength"), size))
        if head.get("ETag", "").strip('"') != md5:
            got = hashlib.sha256()
            body = self._call("reading back " + key, self.s3.get_object, Key=key)["Body"]
            for block in iter(lambda: body.read(1 << 20), b""):
                got.update(block)
            if got.hexdigest() != sha:
                raise PublishError("%s reads back with other bytes (SHA-256 %s, sent %s)"
                                   % (key, got.hexdigest(), sha))
        return size

    def delete(self, rels):
        rels = sorted(rels)
        for at in range(0, len(rels), 1000):
            batch = [{"Key": self.key(r)} for r in rels[at:at + 1000]]
            answer = self._call("deleting", self.s3.delete_objects,
                                Delete={"Objects": batch, "Quiet": True})
            if answer.get("Errors"):
                raise PublishError("deleting %s: %s" % (answer["Errors"][0].get("Key"),
                                                        answer["Errors"][0].get("Message")))


def _local_files(folder):
    """Paths below the version folder ("/" between folders), archives first, then the file
    list, the statement last."""
    out = []
    for base, _dirs, files in os.walk(folder):
        for name in files:
            full = os.path.join(base, name)
            out.append((os.path.relpath(full, folder).replace(os.sep, "/"), full))
    last = {"filelist.lst": 1, STATEMENT: 2}
    return sorted(out, key=lambda item: (last.get(item[0], 0), item[0]))


def upload(base, version, target, endpoint=None, keep=None, say=print, storage=None):
    """Uploads base/version/ and then base/version.html below the target. An upload cut off
    anywhere leaves the live version page as it was; running it again finishes it."""
    store = storage or Storage(target, endpoint)
    live = store.live_version()
    files = _local_files(os.path.join(base, version))
    if not files:
        raise PublishError("nothing published under %s" % os.path.join(base, version))
    there = store.listing(version + "/")
    sent = skipped = 0
    for rel, path in files:
        full = version + "/" + rel
        size, md5, _sha = _digests(path)
        old = there.pop(full, None)
        if old and old[:2] == (size, md5):
            skipped += 1
            continue
        if old and version == live:
            raise PublishError("%s differs from the live release's; objects of a live "
                               "version never change: publish under a new version" % full)
        store.put(full, path, CACHE_IMMUTABLE)
        sent += 1
        say("  put %s (%d bytes)" % (full, size))
    if there and version == live:
        raise PublishError("the live folder %s holds objects this release does not (%s); "
                           "publish under a new version" % (version, sorted(there)[0]))
    # Left by an earlier try of this version that was never live.
    store.delete(there)
    say("version folder %s: %d objects uploaded, %d already there, %d removed"
        % (version, sent, skipped, len(there)))
    page = os.path.join(base, VERSION_PAGE)
    store.put(VERSION_PAGE, page, CACHE_VERSION_PAGE)
    say("live: %s now names %s (was %s; Cache-Control: %s)"
        % (store.key(VERSION_PAGE), version, live or "nothing", CACHE_VERSION_PAGE))
    if keep is not None:
        removed = prune(store, keep, {version, live})
        for folder, count in removed:
            say("removed %s (%d objects)" % (folder, count))
    return live


def prune(store, keep, spared):
    """Removes the oldest version folders beyond `keep`, never one in `spared`."""
    folders = {}
    for rel, (_size, _etag, modified) in store.listing().items():
        folder, _, rest = rel.partition("/")
        if rest and not version_text_problem(folder):
            folders.setdefault(folder, []).append((rel, modified))
    newest_first = sorted(folders, key=lambda f: max(m for _, m in folders[f]), reverse=True)
    removed = []
    for folder in newest_first[max(keep, 0):]:
        if folder in spared:
            continue
        rels = [r for r, _ in folders[folder]]
        # The file list first: a folder half removed is never taken for a release.
        store.delete([r for r in rels if r == folder + "/filelist.lst"])
        store.delete([r for r in rels if r != folder + "/filelist.lst"])
        removed.append((folder, len(rels)))
    return removed

