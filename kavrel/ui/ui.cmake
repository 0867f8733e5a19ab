# The video wall's windows draw through the GDI/GDI+ subset.
target_link_libraries(kavrel_static PUBLIC platform_gdi)
