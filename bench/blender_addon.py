# One operator call of bench/blender_addon.sh, timed alone in a fresh Blender (blender -b
# --factory-startup -P bench/blender_addon.py -- WHAT IN OUT): WHAT is import (the add-on's
# File > Import of IN), obj_import (Blender's wm.obj_import of IN), export (the add-on's
# import of IN, then the timed File > Export as OUT) or obj_export (wm.obj_import of IN, then
# the timed wm.obj_export as OUT). Prints "WHAT SECONDS PEAK_KB", PEAK_KB Blender's own.
import resource
import sys
import time

import addon_utils
import bpy

what, source, out = sys.argv[sys.argv.index("--") + 1:]
bpy.ops.wm.read_factory_settings(use_empty=True)  # no default cube
addon_utils.enable("io_scene_quadview", default_set=True, handle_error=None)
if what == "export":
    bpy.ops.import_scene.quadview(filepath=source)
elif what == "obj_export":
    bpy.ops.wm.obj_import(filepath=source)
calls = {
    "import": lambda: bpy.ops.import_scene.quadview(filepath=source),
    "obj_import": lambda: bpy.ops.wm.obj_import(filepath=source),
    "export": lambda: bpy.ops.export_scene.quadview(filepath=out, replace=True),
    "obj_export": lambda: bpy.ops.wm.obj_export(filepath=out),
}
start = time.perf_counter()
done = calls[what]()
seconds = time.perf_counter() - start
if "FINISHED" not in done:
    sys.exit("%s: %s" % (what, done))
print("%s %.3f %d" % (what, seconds, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))
