# The same sources make the same binaries wherever they are built: no source or build folder is
# written into them (__FILE__, debug information), and the Windows programs carry no link time.
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
