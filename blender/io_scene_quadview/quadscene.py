# The add-on's only way to quad lists and TGA images: the quadscene program. A scene comes in
# as quadscene's JSON export and goes out as JSON that quadscene imports; both lie in a
# temporary folder that goes again afterwards.
import json
import os
import shutil
import subprocess
import tempfile


class Failure(Exception):
    """What the user is told, as quadscene said it."""


NOT_FOUND = ("quadscene was not found: install the quadview package, or name the program "
             "in the preferences of the quadview add-on")


def find(preferred):
    if preferred:
        path = os.path.abspath(os.path.expanduser(preferred))
        if not os.access(path, os.X_OK) or os.path.isdir(path):
            raise Failure("%s is not a program; %s" % (path, NOT_FOUND))
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


def run(arguments):
    try:
        done = subprocess.run(arguments, stdin=subprocess.DEVNULL, capture_output=True)
    except OSError as error:
        raise Failure("%s: %s" % (arguments[0], error.strerror))
    if done.returncode != 0:
        said = done.stderr.decode("utf-8", "replace").strip()
        raise Failure(said or "%s stopped with status %d" % (arguments[0], done.returncode))
    return done.stdout.decode("utf-8", "replace").strip()


def export_json(program, path, folder, more=()):
    """The scene at `path` as quadscene's JSON export, its PNGs in `folder`; `more`: further
    arguments (--as)."""
    out = os.path.join(folder, "scene.json")
    run([program, "export", "--quiet", os.path.abspath(path), "-o", out] + list(more))
    try:
        with open(out, encoding="utf-8") as text:
            return json.load(text)
    except (OSError, ValueError) as error:
        raise Failure("%s: %s" % (out, error))


def import_json(program, scene, folder, path, replace, more=()):
    """`scene` (scene_out.Scene) written as the quadview scene `path`; quadscene's summary."""
    out = os.path.join(folder, "scene.json")
    with open(out, "w", encoding="utf-8") as text:
        json.dump(scene.document, text, separators=(",", ":"), allow_nan=False)
    target = os.path.abspath(path)
    arguments = [program, "import", "--quiet", out, "-o", target] + list(more)
    if scene.images_like and os.path.isfile(scene.images_like):
        arguments += ["--images-like", scene.images_like]
    if replace:
        arguments.append("--force")
    try:
        run(arguments)
    except Failure as failure:
        said = str(failure)
        if said.startswith("--output: "):  # the name: "--output: must be named ..."
            said = target + ": " + said[len("--output: "):]
        for words, instead in IN_BLENDER:
            said = said.replace(words, instead)
        raise Failure(said)
    return "%s: %d records, %d images" % (target, len(scene.document["records"]),
                                           len(scene.document["images"]))
