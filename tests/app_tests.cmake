# Tests of the viewer: its toolkit-free parts, and the real program in a private Xvfb server.
quadview_add_test(navigation_test quadview_app_text)
quadview_add_test(title_test quadview_app_text)

quadview_add_test(viewer_window_test quadview_scene X11::X11 X11::Xtst)
target_sources(viewer_window_test PRIVATE x_test_harness.cpp)
add_dependencies(viewer_window_test quadview)
