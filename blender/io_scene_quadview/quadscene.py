# The add-on's only way to quad lists and TGA images: the quadscene program. A scene comes in
# as quadscene's binary export (.qvb: a small header, the records as whole arrays, a JSON head)
# and goes out as one that quadscene imports; both lie in a temporary folder that goes again
# afterwards. quadscene tells its progress through a pipe while it runs.
import json
import os
import select
import shutil
import subprocess
import tempfile

import numpy


class Failure(Exception):
    """What the user is told, as quadscene said it."""


NOT_FOUND = ("quadscene was not found: install the quadview package, or name the program "
             "in the preferences of the quadview add-on")

# The binary form: "quadview", version, the head's bytes and the record count, then the
# records as quadscene's table holds them (86 packed bytes: slot, blend, winding, then u, v,
# x, y and z of each corner, z negated from the file's frame), then the head.
MAGIC = b"quadview"
VERSION = 1
HEADER = numpy.dtype([("magic", "S8"), ("version", "<u4"), ("head", "<u4"), ("count", "<u8")])
RECORD = numpy.dtype([("slot", "<i4"), ("blend", "u1"), ("winding", "u1"),
                      ("corners", "<f4", (4, 5))])
U, V, X, Y, Z = range(5)  # a corner's values
HEAD_LIMIT = 1 << 20  # bytes


def shown(path):
    """A path as a message can hold it: Linux names are bytes, and a byte that is no UTF-8
    comes from Blender as a lone surrogate, which Blender's reports cannot encode."""
    return path.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def find(preferred):
    if preferred:
        path = os.path.abspath(os.path.expanduser(preferred))
        if not os.access(path, os.X_OK) or os.path.isdir(path):
            raise Failure("%s is not a program; %s" % (shown(path), NOT_FOUND))
        return path
    path = shutil.which("quadscene")
    if path is None:
        raise Failure(NOT_FOUND)
    return path


def first_image(quad_list):
    """The scene's image 000, which a scene always has: "/maps/nyc.map" -> "/maps/nyc/000.tga"."""
    return os.path.join(os.path.splitext(quad_list)[0], "000.tga")


class Folder:
    """A private temporary folder, removed with everything in it on leaving."""

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix="quadview-")
        return self.path

    def __exit__(self, *error):
        shutil.rmtree(self.path, ignore_errors=True)
        return False


# quadscene's words for its command line, said as the export panel says them.
IN_BLENDER = (
    ("; --force overwrites it", '; tick "Replace existing scene" to overwrite it'),
    ("; --force removes it", '; tick "Replace existing scene" to remove it'),
    ("\nRun with --help for more information.", ""),
)


def watch(child, told, progress):
    """Hands `progress` quadscene's lines from the pipe `told` until it ends; its status."""
    pending = b""
    while True:
        if not select.select([told], [], [], 0.25)[0]:
            if child.poll() is not None:
                break
            continue
        chunk = os.read(told, 4096)
        if not chunk:  # every writer has closed its end: quadscene has ended
            break
        *lines, pending = (pending + chunk).split(b"\n")
        words = lines[-1].split() if lines else []
        if len(words) == 3 and words[1].isdigit() and words[2].isdigit() and int(words[2]) > 0:
            progress(min(int(words[1]) / int(words[2]), 1.0))
    return child.wait()


def run(arguments, folder, progress):
    """quadscene with `arguments`, its progress lines ("UNIT DONE TOTAL") handed to
    `progress` as a fraction while it runs; what it wrote on stdout."""
    told, tell = os.pipe()
    try:
        with open(os.path.join(folder, "stdout"), "w+b") as out, \
                open(os.path.join(folder, "stderr"), "w+b") as err:
            try:
                child = subprocess.Popen(arguments + ["--progress-fd", str(tell)],
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                         pass_fds=(tell,))
            except OSError as error:
                raise Failure("%s: %s" % (shown(arguments[0]), error.strerror))
            os.close(tell)
            tell = -1
            try:
                status = watch(child, told, progress)
            finally:
                if child.poll() is None:  # left early: it goes too, before its folder does
                    child.kill()
                    child.wait()
            out.seek(0)
            err.seek(0)
            said_out, said_err = out.read(), err.read()
    finally:
        os.close(told)
        if tell >= 0:
            os.close(tell)
    if status != 0:
        said = said_err.decode("utf-8", "replace").strip()
        raise Failure(said or "%s stopped with status %d" % (shown(arguments[0]), status))
    return said_out.decode("utf-8", "replace").strip()


def checked_head(head):
    """The head as the add-on uses it, or ValueError: images (a PNG's name or None for each
    slot) and the camera (its numbers; the view's size in whole pixels)."""
    def numbers(values, count, kind=(int, float)):
        return isinstance(values, list) and len(values) == count and all(
            isinstance(v, kind) and not isinstance(v, bool) for v in values)
    try:
        images, camera = head["images"], head["camera"]
        good = (isinstance(images, list) and all(i is None or isinstance(i, str) for i in images)
                and numbers([camera["yfov"]], 1) and numbers(camera["translation"], 3)
                and numbers(camera["rotation"], 4) and numbers(camera["size"], 2, int)
                and min(camera["size"]) > 0)
    except (KeyError, TypeError):
        good = False
    if not good:
        raise ValueError("its head is not what quadscene writes")
    return head


def export_scene(program, path, folder, more, progress):
    """The scene at `path` as quadscene's binary export, its PNGs in `folder`: the head (a dict)
    and the records (a RECORD array). `more`: further arguments (--as)."""
    out = os.path.join(folder, "scene.qvb")
    run([program, "export", "--quiet", os.path.abspath(path), "-o", out] + list(more), folder,
        progress)
    try:
        size = os.path.getsize(out)
        header = numpy.fromfile(out, dtype=HEADER, count=1)
        if len(header) != 1 or header["magic"][0] != MAGIC or header["version"][0] != VERSION:
            raise ValueError("not quadscene's binary form %d" % VERSION)
        count, head_bytes = int(header["count"][0]), int(header["head"][0])
        if head_bytes > HEAD_LIMIT or size != HEADER.itemsize + count * RECORD.itemsize + head_bytes:
            raise ValueError("its records do not add up")
        records = numpy.fromfile(out, dtype=RECORD, count=count, offset=HEADER.itemsize)
        with open(out, "rb") as data:
            data.seek(size - head_bytes)
            head = checked_head(json.loads(data.read(head_bytes).decode("utf-8")))
    except (OSError, ValueError) as error:
        raise Failure("%s: %s" % (shown(out), error))
    return head, records


def begin(path):
    """The binary form being written to `path`: its header's place kept, the records to come."""
    out = open(path, "wb")
    out.write(bytes(HEADER.itemsize))
    return out


def finish(out, count, head):
    """The head after the records, then the header that counts them."""
    text = json.dumps(head, separators=(",", ":"), allow_nan=False).encode("utf-8")
    out.write(text)
    header = numpy.zeros(1, dtype=HEADER)
    header["magic"], header["version"] = MAGIC, VERSION
    header["head"], header["count"] = len(text), count
    out.seek(0)
    out.write(header.tobytes())
    out.close()


def import_scene(program, scene, path, replace, more, progress):
    """`scene` (scene_out.Scene, its file written) as the quadview scene `path`; quadscene's
    summary."""
    target = os.path.abspath(path)
    arguments = [program, "import", "--quiet", scene.path, "-o", target] + list(more)
    if scene.images_like and os.path.isfile(scene.images_like):
        arguments += ["--images-like", scene.images_like]
    if replace:
        arguments.append("--force")
    try:
        run(arguments, os.path.dirname(scene.path), progress)
    except Failure as failure:
        said = str(failure)
        if said.startswith("--output: "):  # the name: "--output: must be named ..."
            said = shown(target) + ": " + said[len("--output: "):]
        for words, instead in IN_BLENDER:
            said = said.replace(words, instead)
        raise Failure(scene.named(said))
    return "%s: %d records, %d images" % (shown(target), scene.count, len(scene.image_names))
