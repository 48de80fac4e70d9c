"""Another local account against the updater: bytes added to a staged
download between the run's plan and its resume, and links planted where the
updater writes (Linux). Whatever was planted, the installed files are the
listed ones and nothing outside the installation is written."""
import os

from harness import check, eventually
from test_faults import conclude, done, packed_release, prepare, start, updated_files, NEW_DATA

PAUSE = "UPDATER_TEST_PAUSE"


def serve_packed(h):
    """nginx serving the release with sizes and hashes, as the tool packs it."""
    return h.nginx(packed_release(h))


def test_bytes_added_to_a_staged_download_are_not_installed(h):
    """The run plans to take up data.dll's staged download; before it opens
    it, another process appends to it. The bytes it kept are read and the
    rest written through one handle, from the end of what the plan saw."""
    nginx = serve_packed(h)
    app = prepare(h)
    half = len(NEW_DATA) // 2
    part = app / "data.dll.update-part"
    part.write_bytes(NEW_DATA[:half])
    marker = h.root / "resuming"
    h.env[PAUSE] = f"resume 1 {h.native_path(marker)}"
    try:
        run = start(h, app, nginx.base + "/rel/")
        eventually(lambda: marker.exists() or not run.alive(), 60, what="the resume")
        check(run.alive(), "the run ended before the resume")
        with part.open("ab") as planted:
            planted.write(b"planted " * 4)
        marker.unlink()
        conclude(h, "bytes added to a staged download before its resume", run, app, [done()],
                 updated_files(h, h.before))
    finally:
        h.env.pop(PAUSE, None)


def test_links_where_the_updater_writes_are_not_followed(h):
    """A link in place of a staged download (to a file holding the start of
    the listed bytes, so that the run would take it up) and a dangling one in
    place of a backup copy: both are deleted, never written through."""
    if h.windows:
        return
    nginx = serve_packed(h)
    app = prepare(h)
    outside = h.dir("outside")
    kept = h.client("6.3.0.0")[:1000]
    (outside / "staged").write_bytes(kept)
    os.symlink(outside / "staged", app / "client.exe.update-part")
    (app / "UpdateBak").mkdir()
    os.symlink(outside / "backup", app / "UpdateBak" / "data.dll")
    run = start(h, app, nginx.base + "/rel/")
    conclude(h, "links planted where the updater writes", run, app, [done()],
             updated_files(h, h.before))
    check(not (app / "client.exe").is_symlink(), "client.exe is a link")
    check((outside / "staged").read_bytes() == kept, "the file behind the staged link was written")
    check(not (outside / "backup").exists(), "the backup link was written through")
