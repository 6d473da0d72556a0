# Blender's mesh objects as quadscene's JSON: a record per face in face order, objects in the
# outliner's order, positions in world space. A quad stays a quad, a triangle repeats its third
# corner, a face of more corners becomes the triangles Blender draws it with. A face imported
# from a scene keeps its record's blend and winding from the face attributes; a face made in
# Blender takes blend from its material's blend mode and the winding "CW". The slots are the
# images of the imported scenes in their order, then images new to them, then an untextured
# slot for faces whose material has no image.
import os
import zlib
import struct

import bpy
import numpy

from . import quadscene, scene_in

GENERATOR = "quadview Blender add-on"
VERSION = 1  # the version of quadscene's JSON form


class Scene:
    def __init__(self):
        self.document = None
        self.images_like = None  # the scene whose unchanged image files import keeps
        self.warnings = []


def outliner_order(context, selection_only):
    """The mesh objects of the view layer as the outliner lists them: each collection's child
    collections, then its objects by name, each followed by its children."""
    seen, ordered = set(), []
    layer = context.view_layer.objects

    def visit(obj, members):
        if obj.name in seen:
            return
        seen.add(obj.name)
        if obj.type == "MESH" and obj.name in layer and (
                not selection_only or obj.select_get()):
            ordered.append(obj)
        for child in sorted(obj.children, key=lambda o: o.name):
            if child.name in members:
                visit(child, members)

    def walk(collection):
        for child in collection.children:
            walk(child)
        members = set(o.name for o in collection.objects)
        for obj in sorted(collection.objects, key=lambda o: o.name):
            if obj.parent is None or obj.parent.name not in members:
                visit(obj, members)

    walk(context.scene.collection)
    return ordered


def material_image(material):
    if material is None or not material.use_nodes:
        return None
    for node in material.node_tree.nodes:
        if node.type == "TEX_IMAGE" and node.image is not None:
            return node.image
    return None


def material_blended(material):
    if material is None:
        return False
    if hasattr(material, "surface_render_method"):
        return material.surface_render_method == "BLENDED"
    return material.blend_method == "BLEND"


class Slots:
    """The texture set being written: its images (None: untextured) in slot order."""

    def __init__(self):
        self.images = []
        self.first_of_scene = {}  # an imported scene's key -> its slot 0 here
        self.untextured = None

    def add_scene(self, obj):
        key = obj.get(scene_in.SCENE)
        if not isinstance(key, str) or key in self.first_of_scene:
            return
        count = obj.get(scene_in.SLOTS, 0)
        count = min(max(count, 0), scene_in.TEXTURE_SLOTS) if isinstance(count, int) else 0
        own = [None] * count
        for image in bpy.data.images:
            slot = image.get(scene_in.SLOT)
            if image.get(scene_in.SCENE) == key and isinstance(slot, int) and 0 <= slot < count:
                own[slot] = image
        self.first_of_scene[key] = len(self.images)
        self.images += own

    def of_material(self, material):
        image = material_image(material)
        if image is not None:
            for slot, known in enumerate(self.images):
                if known == image:
                    return slot
            self.images.append(image)
            return len(self.images) - 1
        # No image: the untextured slot the material was made for, or a new one.
        if material is not None:
            first = self.first_of_scene.get(material.get(scene_in.SCENE))
            slot = material.get(scene_in.SLOT)
            if first is not None and isinstance(slot, int):
                if 0 <= slot and 0 <= first + slot < len(self.images) and \
                        self.images[first + slot] is None:
                    return first + slot
        return self.untextured_slot()

    def untextured_slot(self):
        if self.untextured is None:
            self.images.append(None)
            self.untextured = len(self.images) - 1
        return self.untextured


def face_attribute(mesh, name, faces):
    attribute = mesh.attributes.get(name)
    values = numpy.zeros(faces, dtype=numpy.int32)
    if attribute is not None and attribute.domain == "FACE" and attribute.data_type == "INT":
        attribute.data.foreach_get("value", values)
    return values


def records_of(obj, mesh, slots, warnings):
    faces, loops = len(mesh.polygons), len(mesh.loops)
    starts = numpy.empty(faces, dtype=numpy.int32)
    sizes = numpy.empty(faces, dtype=numpy.int32)
    mesh.polygons.foreach_get("loop_start", starts)
    mesh.polygons.foreach_get("loop_total", sizes)
    material_index = numpy.empty(faces, dtype=numpy.int32)
    mesh.polygons.foreach_get("material_index", material_index)
    vertex_of_loop = numpy.empty(loops, dtype=numpy.int32)
    mesh.loops.foreach_get("vertex_index", vertex_of_loop)
    co = numpy.empty(len(mesh.vertices) * 3, dtype=numpy.float32)
    mesh.vertices.foreach_get("co", co)
    co = co.reshape(-1, 3)
    matrix = numpy.array(obj.matrix_world, dtype=numpy.float64)
    if not numpy.array_equal(matrix, numpy.identity(4)):
        co = (co.astype(numpy.float64) @ matrix[:3, :3].T + matrix[:3, 3]).astype(numpy.float32)
    uv = numpy.zeros(loops * 2, dtype=numpy.float32)
    if mesh.uv_layers.active is not None:
        mesh.uv_layers.active.data.foreach_get("uv", uv)
    uv = uv.reshape(-1, 2)

    # The loops of each record's four corners: a quad's own, a triangle's with its third
    # repeated, the triangles of a larger face.
    corner = numpy.array([0, 1, 2, 3])
    quads = numpy.flatnonzero(sizes == 4)
    triangles = numpy.flatnonzero(sizes == 3)
    faces_of = [quads, triangles]
    loops_of = [starts[quads, None] + corner, starts[triangles, None] + numpy.array([0, 1, 2, 2])]
    larger = numpy.flatnonzero(sizes > 4)
    if len(larger):
        mesh.calc_loop_triangles()
        split = numpy.empty(len(mesh.loop_triangles) * 3, dtype=numpy.int32)
        mesh.loop_triangles.foreach_get("loops", split)
        owner = numpy.empty(len(mesh.loop_triangles), dtype=numpy.int32)
        mesh.loop_triangles.foreach_get("polygon_index", owner)
        pick = numpy.isin(owner, larger)
        split = split.reshape(-1, 3)[pick]
        faces_of.append(owner[pick])
        loops_of.append(split[:, [0, 1, 2, 2]])
        warnings.append("%s: %d faces of more than four corners were written as %d triangles"
                        % (obj.name, len(larger), len(split)))
    face = numpy.concatenate(faces_of)
    order = numpy.argsort(face, kind="stable")
    face = face[order]
    corner_loops = numpy.concatenate(loops_of)[order]

    record = face_attribute(mesh, scene_in.RECORD, faces)[face]
    blend = face_attribute(mesh, scene_in.BLEND, faces)[face]
    winding = face_attribute(mesh, scene_in.WINDING, faces)[face]
    materials = [s.material for s in obj.material_slots] or [None]
    # Records whose slot their scene's set did not have keep it where their scene's slots
    # are the file's own (the first scene written); elsewhere they draw untextured all the same.
    past_set = numpy.array([m is not None and bool(m.get(scene_in.PAST_SET)) and
                            slots.first_of_scene.get(m.get(scene_in.SCENE)) == 0
                            for m in materials])
    slot_of = numpy.array([-1 if kept else slots.of_material(m)
                           for m, kept in zip(materials, past_set)], dtype=numpy.int64)
    blend_of = numpy.array([scene_in.BLEND_ALPHA if material_blended(m) else 0
                            for m in materials], dtype=numpy.int64)
    index = numpy.clip(material_index[face], 0, len(materials) - 1)
    made_here = record <= 0
    slot = slot_of[index]
    keeps_slot = past_set[index]
    if numpy.any(keeps_slot & made_here):  # a face made in Blender with such a material
        slot = numpy.where(keeps_slot & made_here, slots.untextured_slot(), slot)
    slot = numpy.where(keeps_slot & ~made_here, face_attribute(mesh, scene_in.SLOT, faces)[face],
                       slot)
    fields = numpy.stack([slot,
                          numpy.where(made_here, blend_of[index], blend),
                          numpy.where(made_here, 0, winding)], axis=1)

    at = co[vertex_of_loop[corner_loops]]  # records x 4 x (x, y, z) in Blender's frame
    values = numpy.empty((len(face), 4, 5), dtype=numpy.float32)
    values[:, :, 0] = at[:, :, 0]
    values[:, :, 1] = at[:, :, 2]  # Blender's +z-up frame back into the file's +y-up one
    values[:, :, 2] = -at[:, :, 1]
    values[:, :, 3:5] = uv[corner_loops]
    if not numpy.all(numpy.isfinite(values)):
        raise quadscene.Failure("%s has a coordinate that is not finite" % obj.name)
    return [f + v for f, v in zip(fields.tolist(),
                                  values.reshape(len(face), 20).astype(numpy.float64).tolist())]


def png_bytes(width, height, rgba):
    """An RGBA image (rows top first, bytes) as PNG."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = numpy.zeros((height, width * 4 + 1), dtype=numpy.uint8)
    rows[:, 1:] = rgba.reshape(height, width * 4)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows.tobytes(), 6)) + chunk(b"IEND", b""))


def write_image(image, path):
    """The image as Blender holds it now: its packed file when it is unchanged, else its
    pixels as PNG. False when it has no pixels."""
    if image.packed_file is not None and not image.is_dirty:
        with open(path, "wb") as out:
            out.write(image.packed_file.data)
        return True
    width, height = image.size
    if not image.has_data or width == 0 or height == 0:
        return False
    pixels = numpy.empty(width * height * 4, dtype=numpy.float32)
    image.pixels.foreach_get(pixels)
    rgba = numpy.round(numpy.clip(pixels, 0.0, 1.0) * 255.0).astype(numpy.uint8)
    rgba = rgba.reshape(height, width, 4)[::-1]  # Blender's rows run bottom up
    with open(path, "wb") as out:
        out.write(png_bytes(width, height, rgba))
    return True


def gather(context, selection_only, folder):
    scene = Scene()
    objects = outliner_order(context, selection_only)
    if not objects:
        raise quadscene.Failure("there is no mesh object to write")
    slots = Slots()
    for obj in objects:
        slots.add_scene(obj)
    depsgraph = context.evaluated_depsgraph_get()
    records = []
    for obj in objects:
        evaluated = obj.evaluated_get(depsgraph)
        mesh = evaluated.to_mesh()
        try:
            records += records_of(obj, mesh, slots, scene.warnings)
        finally:
            evaluated.to_mesh_clear()
    images = []
    for slot, image in enumerate(slots.images):
        name = "image_%03X" % slot
        try:
            written = image is not None and write_image(image, os.path.join(folder, name))
        except OSError as error:
            raise quadscene.Failure("%s: %s" % (image.name, error))
        if written:
            images.append(name)
        else:
            if image is not None:
                scene.warnings.append("image %s has no pixels: slot %d draws untextured"
                                      % (image.name, slot))
            images.append(None)
    # The scene whose images open the set: import keeps the files of those unchanged.
    for obj in objects:
        source = obj.get(scene_in.SOURCE)
        if slots.first_of_scene.get(obj.get(scene_in.SCENE)) == 0 and isinstance(source, str):
            scene.images_like = source
            break
    scene.document = {
        "quadview": {"version": VERSION, "generator": GENERATOR},
        "images": images,
        "records": records,
    }
    return scene
