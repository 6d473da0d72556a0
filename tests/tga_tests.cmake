# TGA reader: unit cases built from byte arrays, and conformance over the shared corpus.
quadview_add_test(tga_test quadview_scene)
quadview_add_test(tga_corpus_test quadview_scene)
