# A scene from quadscene's binary export as Blender data: one mesh object with a face per record
# in record order (a record whose fourth corner repeats its third is a triangle), its UVs, a
# material per slot and blend mode with the slot's image packed into the .blend, the record's
# fields as integer face attributes, and the viewer's start camera as the scene camera.
import os
import uuid

import bpy
import numpy

from . import quadscene

# Names the export reads back: the face attributes, and what the object and the images and
# materials made here remember of the scene.
RECORD = "quadview_record"  # the record's number in the file, from 1; 0: a face made in Blender
SLOT = "quadview_slot"
BLEND = "quadview_blend"
WINDING = "quadview_winding"  # 1: "CCW"; 0: "CW"
SCENE = "quadview_scene"  # one import's key, on its object, images and materials
SOURCE = "quadview_source"  # the object's quad list: text, or bytes where it is no UTF-8
SLOTS = "quadview_slots"  # the number of images of its texture set
PAST_SET = "quadview_past_set"  # on the material of records whose slot the set does not have
TEXTURE_SLOTS = 1024  # the images a texture folder holds at most
BLEND_ALPHA = 1  # the blend byte the viewer draws alpha-blended


class Result:
    def __init__(self):
        self.summary = ""
        self.warnings = []


def set_blended(material, blended):
    # Blender 4.2 replaced blend_method with surface_render_method for EEVEE Next.
    if hasattr(material, "surface_render_method"):
        material.surface_render_method = "BLENDED" if blended else "DITHERED"
    else:
        material.blend_method = "BLEND" if blended else "OPAQUE"


def make_material(name, image, blended, key, slot):
    """Unlit, as the viewer draws: the texel's colour, with its alpha where blended."""
    material = bpy.data.materials.new(name)
    material[SCENE] = key
    material[SLOT] = slot
    material.use_nodes = True
    nodes, links = material.node_tree.nodes, material.node_tree.links
    nodes.clear()
    output = nodes.new("ShaderNodeOutputMaterial")
    emission = nodes.new("ShaderNodeEmission")
    surface = emission.outputs[0]
    if image is not None:
        texture = nodes.new("ShaderNodeTexImage")
        texture.image = image
        texture.interpolation = "Linear"
        texture.extension = "REPEAT"
        links.new(texture.outputs["Color"], emission.inputs["Color"])
        if blended:
            transparent = nodes.new("ShaderNodeBsdfTransparent")
            mix = nodes.new("ShaderNodeMixShader")
            links.new(texture.outputs["Alpha"], mix.inputs[0])
            links.new(transparent.outputs[0], mix.inputs[1])
            links.new(emission.outputs[0], mix.inputs[2])
            surface = mix.outputs[0]
    links.new(surface, output.inputs["Surface"])
    set_blended(material, blended and image is not None)
    return material


def load_images(head, folder, stem, key):
    images = []
    for slot, name in enumerate(head["images"]):
        if name is None:
            images.append(None)  # the viewer draws the slot untextured
            continue
        # quadscene names the PNGs beside the export after it: plain ASCII.
        try:
            image = bpy.data.images.load(os.path.join(folder, os.path.basename(name)))
        except RuntimeError as error:
            raise quadscene.Failure("image %d: %s" % (slot, str(error).strip()))
        image.pack()
        image.name = "%s_%03X" % (stem, slot)
        image.filepath_raw = "//%s/%03X.png" % (stem, slot)  # where Unpack would put it
        image[SCENE] = key
        image[SLOT] = slot
        images.append(image)
    return images


def add_camera(context, camera, stem):
    data = bpy.data.cameras.new(stem + " camera")
    data.sensor_fit = "VERTICAL"
    data.angle_y = camera["yfov"]
    data.clip_start = 0.01
    data.clip_end = 10000.0
    obj = bpy.data.objects.new(stem + " camera", data)
    # The glTF camera node in the file's +y-up frame, turned into Blender's +z-up one.
    x, y, z = camera["translation"]
    obj.location = (x, -z, y)
    qx, qy, qz, qw = camera["rotation"]
    obj.rotation_mode = "QUATERNION"
    obj.rotation_quaternion = (qw, qx, -qz, qy)
    context.collection.objects.link(obj)
    context.scene.camera = obj
    width, height = camera["size"]
    context.scene.render.resolution_x = width
    context.scene.render.resolution_y = height


def whole(mesh, attribute, collection, name):
    """The mesh data behind `collection`'s property `name` as a whole array, for foreach_get and
    foreach_set: the generic attribute where Blender keeps it as one (Blender 4, where it is a
    copy of memory, and the property's way goes element by element), else the property."""
    data = mesh.attributes.get(attribute)
    if data is None:
        return collection, name
    return data.data, "vector" if data.data_type in ("FLOAT_VECTOR", "FLOAT2") else "value"


def put(mesh, attribute, collection, name, values):
    target, key = whole(mesh, attribute, collection, name)
    target.foreach_set(key, values)


def set_geometry(mesh, corners, sizes):
    """Faces of `sizes` corners (3 or 4) from `corners` (faces x 4 x u, v, x, y, z), each face
    with corners of its own, as whole arrays: positions, loops, the edges around each face
    (its own, so none needs to be found), UVs."""
    faces = len(sizes)
    quads_only = bool(numpy.all(sizes == 4))
    points = corners.reshape(-1, 5) if quads_only else corners[
        numpy.arange(4)[None, :] < sizes[:, None]]
    count = len(points)
    # The file's +y-up frame turned into Blender's +z-up one: (x, y, z) -> (x, -z, y), and z
    # comes negated.
    position = numpy.empty((count, 3), dtype=numpy.float32)
    for axis, value in enumerate((quadscene.X, quadscene.Z, quadscene.Y)):
        position[:, axis] = points[:, value]
    starts = numpy.empty(faces, dtype=numpy.int32)
    if quads_only:
        starts[:] = numpy.arange(0, 4 * faces, 4, dtype=numpy.int32)
    else:
        numpy.cumsum(sizes[:-1], out=starts[1:])
        starts[:1] = 0
    loop = numpy.arange(count, dtype=numpy.int32)
    following = loop + 1  # each corner's edge runs to the next corner of its face
    following[starts + sizes - 1] = starts
    mesh.vertices.add(count)
    put(mesh, "position", mesh.vertices, "co", position.ravel())
    mesh.edges.add(count)
    put(mesh, ".edge_verts", mesh.edges, "vertices", numpy.stack([loop, following], axis=1).ravel())
    mesh.loops.add(count)
    put(mesh, ".corner_vert", mesh.loops, "vertex_index", loop)
    put(mesh, ".corner_edge", mesh.loops, "edge_index", loop)
    mesh.polygons.add(faces)
    mesh.polygons.foreach_set("loop_start", starts)
    if not bpy.types.MeshPolygon.bl_rna.properties["loop_total"].is_readonly:  # Blender 3
        mesh.polygons.foreach_set("loop_total", sizes)
    uv = mesh.uv_layers.new(name="UVMap")
    put(mesh, uv.name, uv.data, "uv", numpy.ascontiguousarray(points[:, quadscene.U:quadscene.V + 1]).ravel())


def material_keys(slot, blend, slots):
    """Each face's material among those the faces use: one per slot of the set and blend mode,
    one per blend mode for slots the set does not have (drawn untextured), so that no file
    makes more materials than a mesh holds. The (slot, blended) pairs in use, and each face's
    index among them."""
    slot_key = numpy.where((slot >= 0) & (slot < slots), slot, -1).astype(numpy.int64)
    key = (slot_key + 1) * 2 + (blend == BLEND_ALPHA)
    used = numpy.flatnonzero(numpy.bincount(key, minlength=2 * (slots + 1)))
    index = numpy.empty(2 * (slots + 1), dtype=numpy.int32)
    index[used] = numpy.arange(len(used), dtype=numpy.int32)
    return [(int(k) // 2 - 1, bool(k % 2)) for k in used], index[key]


def build(context, head, records, path, folder, progress):
    result = Result()
    stem = quadscene.shown(os.path.splitext(os.path.basename(path))[0])  # a name Blender can hold
    key = uuid.uuid4().hex
    corners = numpy.ascontiguousarray(records["corners"])
    # A value that is not finite has no place in a Blender mesh.
    finite = numpy.isfinite(corners).all(axis=(1, 2))
    kept = None
    if not finite.all():
        kept = numpy.flatnonzero(finite)
        result.warnings.append("%d records with a value that is not finite were left out"
                               % (len(records) - len(kept)))
        records = records[kept]
        corners = corners[kept]
    faces = len(records)
    bits = corners.view(numpy.uint32)
    triangle = numpy.all(bits[:, 3, :] == bits[:, 2, :], axis=1)
    sizes = numpy.where(triangle, 3, 4).astype(numpy.int32)
    progress(0.1)

    mesh = bpy.data.meshes.new(stem)
    set_geometry(mesh, corners, sizes)
    progress(0.6)
    number = (numpy.arange(1, faces + 1, dtype=numpy.int32) if kept is None
              else (kept + 1).astype(numpy.int32))
    for name, values in ((RECORD, number), (SLOT, records["slot"]), (BLEND, records["blend"]),
                         (WINDING, records["winding"])):
        attribute = mesh.attributes.new(name, "INT", "FACE")
        attribute.data.foreach_set("value", numpy.ascontiguousarray(values, dtype=numpy.int32))
    progress(0.8)

    images = load_images(head, folder, stem, key)
    pairs, material_index = material_keys(records["slot"], records["blend"], len(images))
    for slot, blended in pairs:
        suffix = " blended" if blended else ""
        if slot < 0:
            material = make_material("%s past the set%s" % (stem, suffix), None, False, key, -1)
            material[PAST_SET] = True
        else:
            material = make_material("%s slot %03X%s" % (stem, slot, suffix), images[slot],
                                     blended, key, slot)
        mesh.materials.append(material)
    if "position" in mesh.attributes and "material_index" not in mesh.attributes:  # Blender 4
        mesh.attributes.new("material_index", "INT", "FACE")
    put(mesh, "material_index", mesh.polygons, "material_index", material_index)
    mesh.update()

    obj = bpy.data.objects.new(stem, mesh)
    obj[SCENE] = key
    source = os.path.abspath(path)
    try:  # a name that is not UTF-8 is kept as its bytes
        source.encode("utf-8")
    except UnicodeEncodeError:
        source = os.fsencode(source)
    obj[SOURCE] = source
    obj[SLOTS] = len(images)
    context.collection.objects.link(obj)
    for other in context.view_layer.objects:
        other.select_set(False)
    obj.select_set(True)
    context.view_layer.objects.active = obj
    add_camera(context, head["camera"], stem)
    triangles = int(triangle.sum())
    result.summary = "%s: %d records, %d quads, %d triangles, %d images" % (
        quadscene.shown(os.path.basename(path)), faces, faces - triangles, triangles,
        len(images))
    return result
