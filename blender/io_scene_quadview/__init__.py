# quadview scenes in Blender: File > Import and File > Export > quadview scene (.map), through
# the quadscene program, which does all reading and writing of quad lists and TGA images.
# Enabling the add-on also gives numpy back its old `numpy.bool` alias when it is missing, so
# that Blender's own glTF importer runs with numpy 1.24 (Debian 12's Blender 3.4).

bl_info = {
    "name": "quadview scene format",
    "author": "quadview",
    "version": (0, 1, 0),
    "blender": (3, 4, 0),
    "location": "File > Import-Export > quadview scene (.map)",
    "description": "Open and save quadview scenes (quad list and TGA textures) through "
    "quadscene, quads kept as quads. Also restores numpy.bool, which Blender 3.4's glTF "
    "importer needs with numpy 1.24",
    "category": "Import-Export",
}

import os

import bpy
from bpy.props import BoolProperty, EnumProperty, StringProperty
from bpy_extras.io_utils import ExportHelper, ImportHelper

from . import quadscene, scene_in, scene_out


def restore_numpy_bool():
    """numpy 1.24 removed the alias numpy.bool, which Blender 3.4's glTF add-on still uses."""
    import numpy

    if "bool" not in vars(numpy):  # looked up in place: asking numpy for it warns
        numpy.bool = bool


class QuadviewPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    quadscene: StringProperty(
        name="quadscene",
        description="The quadscene program; empty: the one found on the search path",
        subtype="FILE_PATH",
    )

    def draw(self, context):
        self.layout.prop(self, "quadscene")


# quadscene's --as: a file of another name has its texture numbers read as one of these has.
TEXTURE_NAMES = [
    ("OWN", "The file's own name", "Texture numbers as the file's name has them: read only for "
     "nyc.map, sanb.map and miami.map"),
    ("nyc.map", "As nyc.map", "Texture numbers read and written as nyc.map has them"),
    ("sanb.map", "As sanb.map", "Texture numbers read and written as sanb.map has them"),
    ("miami.map", "As miami.map", "Texture numbers read and written as miami.map has them"),
]


def as_arguments(choice):
    return [] if choice == "OWN" else ["--as", choice]


def program(context):
    preferences = context.preferences.addons[__package__].preferences
    return quadscene.find(preferences.quadscene)


class Progress:
    """The window manager's progress indicator over a whole operation; part() gives a stage
    its share of it, as a callable that takes the stage's own fraction done."""

    STEPS = 1000

    def __init__(self, context):
        self.wm = context.window_manager
        self.wm.progress_begin(0, self.STEPS)

    def part(self, start, end):
        return lambda fraction: self.wm.progress_update(
            int(self.STEPS * (start + (end - start) * fraction)))

    def end(self):
        self.wm.progress_end()


def tell(operator, kind, message):
    """A report, its paths escaped where they are not UTF-8."""
    operator.report({kind}, quadscene.shown(message))


class ImportQuadviewScene(bpy.types.Operator, ImportHelper):
    """Open a quadview scene as one mesh object: a face per record, in record order"""

    bl_idname = "import_scene.quadview"
    bl_label = "Import quadview scene"
    bl_options = {"REGISTER", "UNDO"}

    filename_ext = ".map"
    filter_glob: StringProperty(default="*.map", options={"HIDDEN"})
    texture_names: EnumProperty(name="Texture numbers", items=TEXTURE_NAMES, default="OWN")

    def execute(self, context):
        progress = Progress(context)
        try:
            with quadscene.Folder() as folder:
                head, records = quadscene.export_scene(
                    program(context), self.filepath, folder, as_arguments(self.texture_names),
                    progress.part(0.0, 0.5))
                result = scene_in.build(context, head, records, self.filepath, folder,
                                        progress.part(0.5, 1.0))
        except quadscene.Failure as failure:
            tell(self, "ERROR", str(failure))
            return {"CANCELLED"}
        finally:
            progress.end()
        for warning in result.warnings:
            tell(self, "WARNING", warning)
        tell(self, "INFO", result.summary)
        return {"FINISHED"}


class ExportQuadviewScene(bpy.types.Operator, ExportHelper):
    """Save the mesh objects as a quadview scene: a record per face, in face order"""

    bl_idname = "export_scene.quadview"
    bl_label = "Export quadview scene"

    filename_ext = ".map"
    filter_glob: StringProperty(default="*.map", options={"HIDDEN"})

    replace: BoolProperty(
        name="Replace existing scene",
        description="Overwrite a scene that is already there, its quad list and its images",
        default=False,
    )
    selection_only: BoolProperty(
        name="Selected objects only",
        description="Write only the selected mesh objects",
        default=False,
    )
    texture_names: EnumProperty(name="Texture numbers", items=TEXTURE_NAMES, default="OWN")

    def invoke(self, context, event):
        # Offered first: the scene the active object came from.
        source = context.active_object.get(scene_in.SOURCE) if context.active_object else None
        if not self.filepath:
            self.filepath = os.fsdecode(source) if isinstance(source, (str, bytes)) else "nyc.map"
        return ExportHelper.invoke(self, context, event)

    def execute(self, context):
        path = self.filepath
        taken = [p for p in (path, quadscene.first_image(path)) if os.path.lexists(p)]
        if taken and not self.replace:
            tell(self, "ERROR", '%s exists; tick "Replace existing scene" to overwrite it'
                 % taken[0])
            return {"CANCELLED"}
        progress = Progress(context)
        try:
            with quadscene.Folder() as folder:
                scene = scene_out.gather(context, self.selection_only, folder,
                                         progress.part(0.0, 0.4))
                summary = quadscene.import_scene(program(context), scene, path, self.replace,
                                                 as_arguments(self.texture_names),
                                                 progress.part(0.4, 1.0))
        except quadscene.Failure as failure:
            tell(self, "ERROR", str(failure))
            return {"CANCELLED"}
        finally:
            progress.end()
        for warning in scene.warnings:
            tell(self, "WARNING", warning)
        tell(self, "INFO", summary)
        return {"FINISHED"}


def menu_import(self, context):
    self.layout.operator(ImportQuadviewScene.bl_idname, text="quadview scene (.map)")


def menu_export(self, context):
    self.layout.operator(ExportQuadviewScene.bl_idname, text="quadview scene (.map)")


classes = (QuadviewPreferences, ImportQuadviewScene, ExportQuadviewScene)


def register():
    restore_numpy_bool()
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)
    bpy.types.TOPBAR_MT_file_export.append(menu_export)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(menu_export)
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
