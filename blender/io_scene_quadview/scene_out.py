# Blender's mesh objects as quadscene's binary form: a record per face in face order, objects in the
# outliner's order, positions in world space. A quad stays a quad, a triangle repeats its third
# corner, a face of more corners becomes the triangles Blender draws it with. A face imported
# from a scene keeps its record's blend and winding from the face attributes; a face made in
# Blender takes blend from its material's blend mode and the winding "CW". The slots are the
# images of the imported scenes in their order, then images new to them, then an untextured
# slot for faces whose material has no image.
import os
import re

import bpy
import numpy

from . import quadscene, scene_in

GENERATOR = "quadview Blender add-on"
CHUNK = 1 << 18  # records made and written at a time


class Scene:
    """The scene written for quadscene to import: its file, its record count, the Blender image
    of each slot (None: untextured), the scene whose unchanged image files import keeps."""

    def __init__(self, path):
        self.path = path
        self.count = 0
        self.image_names = []
        self.images_like = None
        self.warnings = []

    def named(self, said):
        """quadscene's words on an image of this file, said of the Blender image instead."""
        match = re.search(r"Cannot read quadview export .*: image (\d+) does not decode: (.*)",
                          said, re.S)
        if match and int(match.group(1)) < len(self.image_names):
            return 'image "%s" does not decode: %s' % (self.image_names[int(match.group(1))],
                                                        match.group(2))
        # Of the temporary file itself: said of the scene being exported.
        return said.replace("%s: Cannot read quadview export %s: " % (self.path, self.path),
                            "the scene to export: ")


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


def take(mesh, attribute, collection, name, values):
    source, key = scene_in.whole(mesh, attribute, collection, name)
    source.foreach_get(key, values)


def records_of(obj, mesh, slots, warnings):
    """The records of the object's faces: their fields (slot, blend, winding), the loops of
    their four corners, and the mesh's positions (world space), loop vertices and UVs."""
    faces, loops = len(mesh.polygons), len(mesh.loops)
    starts = numpy.empty(faces, dtype=numpy.int32)
    sizes = numpy.empty(faces, dtype=numpy.int32)
    mesh.polygons.foreach_get("loop_start", starts)
    mesh.polygons.foreach_get("loop_total", sizes)
    material_index = numpy.zeros(faces, dtype=numpy.int32)
    if "position" not in mesh.attributes or "material_index" in mesh.attributes:
        take(mesh, "material_index", mesh.polygons, "material_index", material_index)
    # else Blender 4 with every face on the first material
    vertex_of_loop = numpy.empty(loops, dtype=numpy.int32)
    take(mesh, ".corner_vert", mesh.loops, "vertex_index", vertex_of_loop)
    co = numpy.empty(len(mesh.vertices) * 3, dtype=numpy.float32)
    take(mesh, "position", mesh.vertices, "co", co)
    co = co.reshape(-1, 3)
    matrix = numpy.array(obj.matrix_world, dtype=numpy.float64)
    if not numpy.array_equal(matrix, numpy.identity(4)):
        co = (co.astype(numpy.float64) @ matrix[:3, :3].T + matrix[:3, 3]).astype(numpy.float32)
    uv = numpy.zeros(loops * 2, dtype=numpy.float32)
    active = mesh.uv_layers.active
    if active is not None:
        take(mesh, active.name, active.data, "uv", uv)
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
    if len(quads) == faces and numpy.array_equal(starts, numpy.arange(0, loops, 4)):
        face, corner_loops = quads, None  # quads alone, their loops in order: record i's are 4i..
    elif len(quads) == faces:
        face, corner_loops = quads, loops_of[0]
    else:
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
    if not (numpy.all((fields[:, 1] >= 0) & (fields[:, 1] <= 255)) and
            numpy.all((fields[:, 2] >= 0) & (fields[:, 2] <= 1))):
        raise quadscene.Failure('%s: a face\'s "%s" is not 0 to 255, or its "%s" not 0 or 1'
                                % (obj.name, scene_in.BLEND, scene_in.WINDING))
    if numpy.array_equal(vertex_of_loop, numpy.arange(loops)):
        vertex_of_loop = None  # a vertex of its own for each loop, in order, as import makes them
    return fields, corner_loops, co, vertex_of_loop, uv


def write_records(out, obj, fields, corner_loops, co, vertex_of_loop, uv):
    """The records, CHUNK at a time, so that none but the mesh's own arrays is held whole.
    `corner_loops` None: record i's corners are loops 4i to 4i + 3; `vertex_of_loop` None:
    loop i's vertex is i."""
    for begin in range(0, len(fields), CHUNK):
        count = min(CHUNK, len(fields) - begin)
        if corner_loops is None:
            loops = numpy.arange(4 * begin, 4 * (begin + count)).reshape(-1, 4)
            texture = uv.reshape(-1, 4, 2)[begin:begin + count]
        else:
            loops = corner_loops[begin:begin + count]
            texture = uv[loops]
        if vertex_of_loop is None and corner_loops is None:
            at = co.reshape(-1, 4, 3)[begin:begin + count]
        else:
            at = co[loops if vertex_of_loop is None else vertex_of_loop[loops]]
        corners = numpy.empty((count, 4, 5), dtype=numpy.float32)
        corners[:, :, quadscene.U:quadscene.V + 1] = texture
        # Blender's +z-up frame back into the file's +y-up one, z stored negated:
        # (x, y, z) -> (x, z, y).
        corners[:, :, quadscene.X] = at[:, :, 0]
        corners[:, :, quadscene.Y] = at[:, :, 2]
        corners[:, :, quadscene.Z] = at[:, :, 1]
        if not numpy.isfinite(corners).all():
            raise quadscene.Failure("%s has a coordinate that is not finite" % obj.name)
        records = numpy.empty(count, dtype=quadscene.RECORD)
        records["slot"] = fields[begin:begin + count, 0]
        records["blend"] = fields[begin:begin + count, 1]
        records["winding"] = fields[begin:begin + count, 2]
        # The corners' bytes in one copy: in the packed record their floats are not aligned.
        records.view(numpy.uint8).reshape(count, -1)[:, 6:] = corners.view(numpy.uint8).reshape(
            count, -1)
        records.tofile(out)


class ImageWriter:
    """The images of the set as files quadscene reads, each as Blender holds it now: a packed
    PNG or JPEG that is unchanged goes as it is; any other image Blender can show is saved by
    Blender's own writer as an 8-bit RGBA PNG, colour managed as Blender saves a render (the
    standard view), through a scene of its own made for the purpose."""

    KEPT = (b"\x89PNG\r\n\x1a\n", b"\xff\xd8\xff")  # PNG, JPEG: quadscene reads them

    def __init__(self):
        self.scene = None

    def write(self, image, path):
        """False when the image has no pixels to write."""
        packed = image.packed_file
        data = packed.data if packed is not None and not image.is_dirty else b""  # a copy
        if data.startswith(self.KEPT):
            with open(path, "wb") as out:
                out.write(data)
            return True
        width, height = image.size
        if not image.has_data or width == 0 or height == 0:
            return False
        if self.scene is None:
            self.scene = bpy.data.scenes.new("quadview image export")
            settings = self.scene.render.image_settings
            settings.file_format = "PNG"
            settings.color_mode = "RGBA"
            settings.color_depth = "8"
            settings.compression = 15
            self.scene.display_settings.display_device = "sRGB"
            self.scene.view_settings.view_transform = "Standard"
            self.scene.view_settings.look = "None"
            self.scene.view_settings.exposure = 0.0
            self.scene.view_settings.gamma = 1.0
        try:
            image.save_render(path, scene=self.scene)
        except RuntimeError as error:
            raise quadscene.Failure('image "%s" cannot be written: %s'
                                    % (image.name, str(error).strip()))
        return True

    def close(self):
        if self.scene is not None:
            bpy.data.scenes.remove(self.scene)
            self.scene = None


def drawn_as_is(obj):
    """Whether the object's own mesh is what Blender draws: no modifier, shape key or edit
    mode changes it."""
    return not obj.modifiers and obj.data.shape_keys is None and not obj.data.is_editmode


def mesh_of(obj, depsgraph):
    """The object's mesh as it is drawn: its own data where nothing changes it, else the
    evaluated one (to be cleared with to_mesh_clear)."""
    if drawn_as_is(obj):
        return obj.data, None
    evaluated = obj.evaluated_get(depsgraph)
    return evaluated.to_mesh(), evaluated


def gather(context, selection_only, folder, progress):
    """The mesh objects written as the binary form in `folder`, with their images."""
    objects = outliner_order(context, selection_only)
    if not objects:
        raise quadscene.Failure("there is no mesh object to write")
    scene = Scene(os.path.join(folder, "scene.qvb"))
    slots = Slots()
    for obj in objects:
        slots.add_scene(obj)
    depsgraph = None
    if not all(drawn_as_is(o) for o in objects):
        depsgraph = context.evaluated_depsgraph_get()
    faces = sum(len(o.data.polygons) for o in objects) or 1
    out = quadscene.begin(scene.path)
    try:
        for obj in objects:
            mesh, evaluated = mesh_of(obj, depsgraph)
            try:
                parts = records_of(obj, mesh, slots, scene.warnings)
            finally:
                if evaluated is not None:
                    evaluated.to_mesh_clear()
            write_records(out, obj, *parts)
            scene.count += len(parts[0])
            progress(min(scene.count / faces, 1.0))
            del parts
        images = []
        writer = ImageWriter()
        try:
            for slot, image in enumerate(slots.images):
                name = "image_%03X.png" % slot
                written = image is not None and writer.write(image, os.path.join(folder, name))
                if not written and image is not None:
                    scene.warnings.append("image %s has no pixels: slot %d draws untextured"
                                          % (image.name, slot))
                images.append(name if written else None)
                scene.image_names.append(image.name if image is not None else None)
        except OSError as error:
            raise quadscene.Failure("%s: %s" % (image.name, error.strerror))
        finally:
            writer.close()
        quadscene.finish(out, scene.count, {
            "quadview": {"version": quadscene.VERSION, "generator": GENERATOR},
            "images": images,
        })
    finally:
        out.close()
    # The scene whose images open the set: import keeps the files of those unchanged.
    for obj in objects:
        source = obj.get(scene_in.SOURCE)
        if slots.first_of_scene.get(obj.get(scene_in.SCENE)) == 0 and \
                isinstance(source, (str, bytes)):
            scene.images_like = os.fsdecode(source)
            break
    return scene
