# Field names such as transA are the format's own, so flatc's naming warnings are off.
# Compiles .fbs schemas with flatc into the build tree and exposes the headers
# through one INTERFACE target that format modules link.
function(talvex_flatc_generate target)
  set(out_dir ${CMAKE_BINARY_DIR}/generated/schemas)
  file(MAKE_DIRECTORY ${out_dir})
  set(headers)
  foreach(schema ${ARGN})
    get_filename_component(name ${schema} NAME_WE)
    set(header ${out_dir}/${name}_generated.h)
    add_custom_command(
      OUTPUT ${header}
      COMMAND ${FLATC} --cpp --gen-object-api --reflect-names --scoped-enums --no-warnings
              -o ${out_dir} ${schema}
      DEPENDS ${schema}
      COMMENT "flatc ${name}.fbs"
      VERBATIM)
    list(APPEND headers ${header})
  endforeach()
  add_custom_target(${target}_gen DEPENDS ${headers})
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_gen)
  target_include_directories(${target} SYSTEM INTERFACE ${out_dir})
  # TXM vectors are force-aligned to 64; the library caps at 32 otherwise.
  target_compile_definitions(${target} INTERFACE FLATBUFFERS_MAX_ALIGNMENT=64)
endfunction()
