# Runs inside Blender (blender -b --factory-startup -P tests/blender_addon.py -- OUT_DIR RECORD
# DEMO.map HARD.map DAMAGED.map BIG.map; OUT_DIR/latin/café.map, é in Latin-1, is the demo
# too), with the quadview add-on found among the user's add-ons and quadscene on the search
# path. Each case opens scenes with File > Import > quadview scene,
# edits as a modder would, and saves with File > Export as OUT_DIR/CASE/nyc.map; the failures
# the user is shown go to OUT_DIR/reports.txt, a line a case.
import os
import sys

import addon_utils
import bmesh
import bpy


def fresh():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    addon_utils.enable("io_scene_quadview", default_set=True, handle_error=None)


def open_scene(path):
    bpy.ops.import_scene.quadview(filepath=path)
    return bpy.context.view_layer.objects.active


def faces_of(mesh, record):
    numbers = mesh.faces.layers.int["quadview_record"]
    return [f for f in mesh.faces if f[numbers] == record + 1]


def edit_mesh(obj, change):
    mesh = bmesh.new()
    mesh.from_mesh(obj.data)
    change(mesh)
    mesh.to_mesh(obj.data)
    mesh.free()


def duplicate_and_raise(mesh, record):
    copies = bmesh.ops.duplicate(mesh, geom=faces_of(mesh, record))["geom"]
    verts = [g for g in copies if isinstance(g, bmesh.types.BMVert)]
    bmesh.ops.translate(mesh, vec=(0.0, 0.0, 0.5), verts=verts)  # up: the file's +y


def reverse_faces(obj):
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.mesh.select_all(action="SELECT")
    bpy.ops.mesh.sort_elements(type="REVERSE", elements={"FACE"})
    bpy.ops.object.mode_set(mode="OBJECT")


def add_textured_quad(obj, image=None, x=5):
    """A quad with a material of its own and `image`, or a new 2 x 2 one, made in Blender."""
    if image is None:
        image = bpy.data.images.new("new", 2, 2, alpha=True)
        image.pixels = [v / 255.0 for v in (255, 0, 0, 255, 0, 255, 0, 255,
                                            0, 0, 255, 255, 255, 255, 255, 128)]
    material = bpy.data.materials.new("new")
    material.use_nodes = True
    material.node_tree.nodes.new("ShaderNodeTexImage").image = image
    obj.data.materials.append(material)

    def add(mesh):
        corners = [mesh.verts.new(p) for p in [(x, 0, 0), (x + 1, 0, 0), (x + 1, 0, 1), (x, 0, 1)]]
        mesh.faces.new(corners).material_index = len(obj.data.materials) - 1
    edit_mesh(obj, add)


# Red, green, blue and white: the same bytes in every format and colour space.
PAINTED = (1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1)


def add_packed_images(obj, out_dir):
    """A quad for each of TIFF, OpenEXR and WebP, its material's image that file packed."""
    scene = bpy.data.scenes.new("formats")
    scene.view_settings.view_transform = "Standard"  # the pixels as they are
    scene.render.image_settings.quality = 100  # WebP: lossless
    for number, file_format in enumerate(("TIFF", "OPEN_EXR", "WEBP")):
        image = bpy.data.images.new(file_format, 2, 2, alpha=True,
                                    float_buffer=file_format == "OPEN_EXR")
        image.pixels = PAINTED
        scene.render.image_settings.file_format = file_format
        path = "%s/packed-%d" % (out_dir, number)
        image.save_render(path, scene=scene)
        bpy.data.images.remove(image)
        packed = bpy.data.images.load(path)
        packed.pack()
        add_textured_quad(obj, packed, 5 + number)


def save(out_dir, case, replace=False):
    bpy.ops.export_scene.quadview(filepath="%s/%s/nyc.map" % (out_dir, case), replace=replace)


def report(reports, case, action):
    try:
        action()
        reports.write("%s: no error\n" % case)
    except RuntimeError as error:  # what Blender shows the user: "Error: MESSAGE"
        reports.write("%s: %s\n" % (case, str(error).strip().replace("\n", " | ")))


def main():
    args = sys.argv[sys.argv.index("--") + 1:]
    out_dir, record, demo, hard, damaged, big = args[0], int(args[1]), *args[2:]
    edits = {
        "untouched": lambda obj: None,
        "moved": lambda obj: setattr(obj, "location", (1.0, 2.0, 3.0)),
        "duplicated": lambda obj: edit_mesh(obj, lambda m: duplicate_and_raise(m, record)),
        "deleted": lambda obj: edit_mesh(
            obj, lambda m: bmesh.ops.delete(m, geom=faces_of(m, record), context="FACES")),
        "reordered": reverse_faces,
        "added": add_textured_quad,
    }
    for stem, source in (("demo", demo), ("hard", hard)):
        for case, edit in edits.items():
            fresh()
            edit(open_scene(source))
            save(out_dir, "%s-%s" % (stem, case))
    fresh()
    open_scene(demo)
    open_scene(hard)
    save(out_dir, "two")
    fresh()
    open_scene(big)
    save(out_dir, "big-out")
    fresh()
    add_packed_images(open_scene(demo), out_dir)
    save(out_dir, "formats")
    # Names are bytes: a Latin-1 one comes from Blender with a lone surrogate for its é.
    fresh()
    latin = os.fsdecode(out_dir.encode() + b"/latin/caf\xe9.map")
    latin_out = os.fsdecode(out_dir.encode() + b"/caf\xe9/nyc.map")
    bpy.ops.import_scene.quadview(filepath=latin, texture_names="nyc.map")
    bpy.ops.export_scene.quadview(filepath=latin_out)

    with open(out_dir + "/reports.txt", "w") as reports:
        fresh()
        report(reports, "damaged", lambda: open_scene(damaged))
        report(reports, "exists", lambda: (open_scene(demo), save(out_dir, "demo-untouched")))
        report(reports, "replaced", lambda: save(out_dir, "demo-untouched", replace=True))
        report(reports, "name", lambda: bpy.ops.export_scene.quadview(
            filepath=out_dir + "/scene.map"))
        report(reports, "as", lambda: bpy.ops.export_scene.quadview(
            filepath=out_dir + "/scene.map", texture_names="nyc.map"))
        report(reports, "latin exists", lambda: bpy.ops.export_scene.quadview(
            filepath=latin_out))
        fresh()
        with open(out_dir + "/broken.png", "wb") as png:
            png.write(b"\x89PNG\r\n\x1a\n" + bytes(40))
        broken = bpy.data.images.load(out_dir + "/broken.png")
        broken.pack()
        add_textured_quad(open_scene(demo), broken)
        report(reports, "broken", lambda: save(out_dir, "broken"))
        bpy.context.preferences.addons["io_scene_quadview"].preferences.quadscene = \
            out_dir + "/no-such-program"
        report(reports, "no quadscene", lambda: open_scene(demo))
    print("blender add-on: %s" % bpy.app.version_string)


main()
