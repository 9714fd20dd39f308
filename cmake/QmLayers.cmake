# Include roots that make the layering a rule of the build (see ARCHITECTURE.md).
#
# Every library gets two folders of its own under build/include/:
#   <target>/          its public headers only, linked there under the names the
#                      code uses ("platform/text.h"): what users of the library see;
#   <target>-private/  its whole source folder: what the library itself sees.
# No target has the source tree itself as an include root, so a target sees the
# headers of what it links and nothing else: an include across a layer that is
# not allowed is "No such file", and a header that is not public stays inside.
# The links follow the tree: headers are globbed again on every build.

set(QM_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

# qm_layer(<target> <folder> [RECURSE] [PUBLIC_HEADERS rel...] [INTERFACE] [AT_ROOT])
#   <folder>        the library's folder, relative to the source root
#   RECURSE         every header below <folder> is public (default: the
#                   headers directly in <folder>)
#   PUBLIC_HEADERS  exactly these headers (relative to <folder>) are public
#   INTERFACE       <target> is an interface library: it has no sources of
#                   its own, only the public root
#   AT_ROOT         <folder> holds the public headers of a shared library
#                   (uilib/include/, cefhost/include/), named by their path
#                   inside it ("kxcef/cef3_manager.h"): only the public root
#                   is made; the library's inside comes from qm_layer_inside
function(qm_layer target folder)
  cmake_parse_arguments(ARG "RECURSE;INTERFACE;AT_ROOT" "" "PUBLIC_HEADERS" ${ARGN})
  set(src ${PROJECT_SOURCE_DIR}/${folder})
  set(pub ${QM_INCLUDE_ROOT}/${target})
  set(priv ${QM_INCLUDE_ROOT}/${target}-private)
  set(under ${folder}/)
  if(ARG_AT_ROOT)
    set(under "")
  endif()

  if(ARG_PUBLIC_HEADERS)
    set(headers ${ARG_PUBLIC_HEADERS})
    # Still glob, so that a change of the folder reconfigures.
    file(GLOB _unused CONFIGURE_DEPENDS ${src}/*.h)
  elseif(ARG_RECURSE)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${src} ${src}/*.h)
  else()
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${src} ${src}/*.h)
  endif()

  # Rebuilt from scratch: a header that went away must not stay visible.
  file(REMOVE_RECURSE ${pub})
  foreach(h ${headers})
    if(NOT EXISTS ${src}/${h})
      message(FATAL_ERROR "qm_layer(${target}): no header ${folder}/${h}")
    endif()
    get_filename_component(dir ${pub}/${under}${h} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${src}/${h} ${pub}/${under}${h} SYMBOLIC)
  endforeach()
  file(MAKE_DIRECTORY ${pub})

  if(ARG_INTERFACE)
    target_include_directories(${target} INTERFACE ${pub})
    return()
  elseif(ARG_AT_ROOT)
    target_include_directories(${target} PUBLIC ${pub})
    return()
  endif()
  if(NOT EXISTS ${priv}/${folder})
    get_filename_component(dir ${priv}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${src} ${priv}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${pub} PRIVATE ${priv})
endfunction()

# qm_layer_inside(<target> <folder> [ONLY rel...])
# The inside of a shared library whose code names its headers by their path in
# <folder> ("engine/app.h"): a root build/include/<target>-private/ holding
# <folder>, or ONLY these of its files and folders, seen by <target> alone (by
# its users too when <target> is an interface library: the inside roots that
# tests link).
function(qm_layer_inside target folder)
  cmake_parse_arguments(ARG "" "" "ONLY" ${ARGN})
  set(src ${PROJECT_SOURCE_DIR}/${folder})
  set(root ${QM_INCLUDE_ROOT}/${target}-private)
  file(REMOVE_RECURSE ${root})
  if(ARG_ONLY)
    foreach(p ${ARG_ONLY})
      if(NOT EXISTS ${src}/${p})
        message(FATAL_ERROR "qm_layer_inside(${target}): no ${folder}/${p}")
      endif()
      get_filename_component(dir ${root}/${p} DIRECTORY)
      file(MAKE_DIRECTORY ${dir})
      file(CREATE_LINK ${src}/${p} ${root}/${p} SYMBOLIC)
    endforeach()
  else()
    file(CREATE_LINK ${src} ${root} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PRIVATE ${root})
  endif()
endfunction()
