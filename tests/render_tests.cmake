# Rendering on a headless llvmpipe surface: view setup, texture set, frame renderer, the
# surface itself, and quadscene render (with the golden picture of the demo scene).
quadview_add_test(view_setup_test quadview_render quadview_scene)
quadview_add_test(texture_set_test quadview_render quadview_scene)
quadview_add_test(frame_renderer_test quadview_render quadview_scene)
quadview_add_test(headless_surface_test quadview_render quadview_scene)
quadview_add_test(render_command_test quadview_scene PkgConfig::STB)
add_dependencies(render_command_test quadscene)
