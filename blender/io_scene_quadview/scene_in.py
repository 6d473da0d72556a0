# A scene from quadscene's JSON export as Blender data: one mesh object with a face per record
# in record order (a record whose fourth corner repeats its third is a triangle), its UVs, a
# material per slot and blend mode with the slot's image packed into the .blend, the record's
# fields as integer face attributes, and the viewer's start camera as the scene camera.
import os
import uuid

import bpy
import numpy

# Names the export reads back: the face attributes, and what the object and the images and
# materials made here remember of the scene.
RECORD = "quadview_record"  # the record's number in the file, from 1; 0: a face made in Blender
SLOT = "quadview_slot"
BLEND = "quadview_blend"
WINDING = "quadview_winding"  # 1: "CCW"; 0: "CW"
SCENE = "quadview_scene"  # one import's key, on its object, images and materials
SOURCE = "quadview_source"  # the object's quad list
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


def load_images(data, folder, stem, key):
    images = []
    for slot, name in enumerate(data["images"]):
        if name is None:
            images.append(None)  # the viewer draws the slot untextured
            continue
        image = bpy.data.images.load(os.path.join(folder, os.path.basename(name)))
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


def build(context, data, path, folder):
    result = Result()
    stem = os.path.splitext(os.path.basename(path))[0]
    key = uuid.uuid4().hex
    records = data["records"]
    # A value that is not finite comes as the string of its bits; Blender cannot hold it.
    kept = [i for i, r in enumerate(records) if not any(isinstance(v, str) for v in r[3:])]
    if len(kept) < len(records):
        result.warnings.append("%d records with a value that is not finite were left out"
                               % (len(records) - len(kept)))
    fields = numpy.array([records[i][:3] for i in kept], dtype=numpy.int64).reshape(-1, 3)
    corners = numpy.array([records[i][3:] for i in kept], dtype=numpy.float32).reshape(-1, 4, 5)
    del records
    faces = len(kept)
    bits = corners.view(numpy.uint32)
    triangle = numpy.all(bits[:, 3, :] == bits[:, 2, :], axis=1)
    used = numpy.ones((faces, 4), dtype=bool)
    used[:, 3] = ~triangle
    sizes = numpy.where(triangle, 3, 4).astype(numpy.int32)
    starts = (numpy.cumsum(sizes) - sizes).astype(numpy.int32)
    points = corners[used]  # x, y, z, u, v of every face corner, in order
    count = len(points)
    position = numpy.empty((count, 3), dtype=numpy.float32)
    position[:, 0] = points[:, 0]
    position[:, 1] = -points[:, 2]  # the file's +y-up frame turned into Blender's +z-up one
    position[:, 2] = points[:, 1]

    mesh = bpy.data.meshes.new(stem)
    mesh.vertices.add(count)
    mesh.vertices.foreach_set("co", position.ravel())
    mesh.loops.add(count)
    mesh.loops.foreach_set("vertex_index", numpy.arange(count, dtype=numpy.int32))
    mesh.polygons.add(faces)
    mesh.polygons.foreach_set("loop_start", starts)
    if not bpy.types.MeshPolygon.bl_rna.properties["loop_total"].is_readonly:  # Blender 3
        mesh.polygons.foreach_set("loop_total", sizes)
    uv = mesh.uv_layers.new(name="UVMap")
    uv.data.foreach_set("uv", numpy.ascontiguousarray(points[:, 3:5]).ravel())
    for name, values in ((RECORD, numpy.array(kept, dtype=numpy.int64) + 1),
                         (SLOT, fields[:, 0]), (BLEND, fields[:, 1]), (WINDING, fields[:, 2])):
        attribute = mesh.attributes.new(name, "INT", "FACE")
        attribute.data.foreach_set("value", values.astype(numpy.int32))

    images = load_images(data, folder, stem, key)
    material_index = numpy.empty(faces, dtype=numpy.int32)
    # A material per slot of the set and blend mode; records whose slot the set does not have
    # (drawn untextured) share one per blend mode, so that no file makes more materials than
    # a mesh holds.
    slot_key = numpy.where((fields[:, 0] >= 0) & (fields[:, 0] < len(images)), fields[:, 0], -1)
    pairs = numpy.stack([slot_key, fields[:, 1] == BLEND_ALPHA], axis=1)
    unique, inverse = (numpy.unique(pairs, axis=0, return_inverse=True) if faces
                       else (numpy.empty((0, 2), numpy.int64), numpy.empty(0, numpy.int64)))
    for slot, blended in unique.tolist():
        suffix = " blended" if blended else ""
        if slot < 0:
            material = make_material("%s past the set%s" % (stem, suffix), None, False, key, -1)
            material[PAST_SET] = True
        else:
            material = make_material("%s slot %03X%s" % (stem, slot, suffix), images[slot],
                                     bool(blended), key, slot)
        mesh.materials.append(material)
    material_index[:] = inverse.ravel()
    mesh.polygons.foreach_set("material_index", material_index)
    mesh.update(calc_edges=True)

    obj = bpy.data.objects.new(stem, mesh)
    obj[SCENE] = key
    obj[SOURCE] = os.path.abspath(path)
    obj[SLOTS] = len(images)
    context.collection.objects.link(obj)
    for other in context.view_layer.objects:
        other.select_set(False)
    obj.select_set(True)
    context.view_layer.objects.active = obj
    add_camera(context, data["camera"], stem)
    result.summary = "%s: %d records, %d quads, %d triangles, %d images" % (
        os.path.basename(path), len(kept), faces - int(triangle.sum()), int(triangle.sum()),
        len(images))
    return result
