# Renders a glTF exported by `quadscene export` with Blender's Cycles on the CPU, from the
# camera the export carries. Used to make the picture in the README:
#   blender -b -noaudio --python-exit-code 1 -P docs/blender_render.py -- SCENE.glb OUT.png 535 326
# The quadview add-on must be installed: enabling it is what lets Debian 12's Blender 3.4 read
# glTF with numpy 1.24.
import sys

import addon_utils
import bpy

glb, png, width, height = sys.argv[sys.argv.index("--") + 1:][:4]
bpy.ops.wm.read_factory_settings(use_empty=True)
addon_utils.enable("io_scene_quadview", default_set=True, handle_error=None)
bpy.ops.import_scene.gltf(filepath=glb)
scene = bpy.context.scene
scene.camera = next(o for o in scene.objects if o.type == "CAMERA")
scene.camera.data.clip_start = max(scene.camera.data.clip_start, 1e-4)
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 64
scene.cycles.use_denoising = False  # Debian builds Blender without OpenImageDenoise
scene.render.resolution_x = int(width)
scene.render.resolution_y = int(height)
scene.render.resolution_percentage = 100
scene.world = bpy.data.worlds.new("black")
scene.world.color = (0, 0, 0)
scene.view_settings.view_transform = "Standard"  # colours as stored, not Filmic's
scene.render.filepath = png
bpy.ops.render.render(write_still=True)
