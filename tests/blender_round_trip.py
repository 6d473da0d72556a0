# Runs inside Blender (blender -b --factory-startup -P tests/blender_round_trip.py -- OUT_DIR
# RECORD SCENE.glb ...): each quadview export is imported with Blender's glTF add-on as a user
# would, edited in one of five ways, and exported again with the add-on's default settings as
# OUT_DIR/STEM-CASE.glb. RECORD is the index of the record the edits that touch one record
# take: its faces are found by the tag every vertex carries in the second UV map. The quadview
# add-on is enabled, as a user enables it, and nothing else is done for the glTF add-on.
import sys

import addon_utils
import bmesh
import bpy


TAG_MARKER = 65536


def tag_index(uv):
    """The record index of a tag as Blender holds it (v flipped to 1 - v on import)."""
    s, t = uv[0], 1.0 - uv[1]
    if s != int(s) or t != int(t) or not TAG_MARKER <= t < 2 * TAG_MARKER:
        return None
    return (int(t) & 127) << 24 | int(s)


def edit_mesh(obj, change):
    mesh = bmesh.new()
    mesh.from_mesh(obj.data)
    tags = mesh.loops.layers.uv[1]
    change(mesh, tags)
    mesh.to_mesh(obj.data)
    mesh.free()


def faces_of(mesh, tags, record):
    return [f for f in mesh.faces if all(tag_index(l[tags].uv) == record for l in f.loops)]


def duplicate_and_raise(mesh, tags, record):
    copies = bmesh.ops.duplicate(mesh, geom=faces_of(mesh, tags, record))["geom"]
    verts = [g for g in copies if isinstance(g, bmesh.types.BMVert)]
    bmesh.ops.translate(mesh, vec=(0.0, 0.0, 0.5), verts=verts)  # up: the file's +y


def delete(mesh, tags, record):
    bmesh.ops.delete(mesh, geom=faces_of(mesh, tags, record), context="FACES")


def add_quad(mesh, tags):
    corners = [mesh.verts.new(p) for p in [(5, 0, 0), (6, 0, 0), (6, 0, 1), (5, 0, 1)]]
    mesh.faces.new(corners)


def main():
    args = sys.argv[sys.argv.index("--") + 1:]
    out_dir, record, sources = args[0], int(args[1]), args[2:]
    edits = {
        "untouched": lambda obj: None,
        "moved": lambda obj: setattr(obj, "location", (1.0, 2.0, 3.0)),
        "duplicated": lambda obj: edit_mesh(obj, lambda m, t: duplicate_and_raise(m, t, record)),
        "deleted": lambda obj: edit_mesh(obj, lambda m, t: delete(m, t, record)),
        "added": lambda obj: edit_mesh(obj, add_quad),
    }
    for source in sources:
        stem = source.rsplit("/", 1)[-1].rsplit(".", 1)[0]
        for case, edit in edits.items():
            bpy.ops.wm.read_factory_settings(use_empty=True)
            addon_utils.enable("io_scene_quadview", default_set=True, handle_error=None)
            bpy.ops.import_scene.gltf(filepath=source)
            edit(next(o for o in bpy.data.objects if o.type == "MESH"))
            bpy.ops.export_scene.gltf(filepath="%s/%s-%s.glb" % (out_dir, stem, case))
    print("blender round trip: %s" % bpy.app.version_string)


main()
