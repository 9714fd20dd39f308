# Run by the layering test: writes a tiny project with one target per case,
# each compiling one file that includes one header with the include roots of
# one library of the build, and checks that forbidden includes fail on that
# header and allowed ones compile. Then checks that the operating system's
# headers are included only by platform/ and the files named below.
#
# In: QM_PROBE_BINARY, QM_LAYER_VIEWS, QM_GENERATOR, QM_CXX, QM_SOURCE_DIR.

# <case> <library whose view is used> <header> <ALLOWED|FORBIDDEN>
set(cases
  # Upward includes: a layer never sees what is built on it.
  platform_common        qm_platform        common/log_record.h                FORBIDDEN
  platform_gtk           qm_platform        gtk/gtk.h                          FORBIDDEN
  common_uilib           qm_common          uilib/UiLib.h                      FORBIDDEN
  uilib_cefhost          KXUiLib            kxcef/cef3_manager.h               FORBIDDEN
  cefhost_core           KXCEF2             core/services/reply/js_reply.h     FORBIDDEN
  services_shell         qm_core_services   core/shell/main_wnd.h              FORBIDDEN
  services_uilib         qm_core_services   uilib/UiLib.h                      FORBIDDEN
  core_launcher          qm_core_shell      launcher/hand_over.h               FORBIDDEN
  # The launcher meets the core module only through its binary interface.
  launcher_core          qm_launcher        core/shell/main_wnd.h              FORBIDDEN
  bridge_core            qm_launcher_bridge core/services/reply/js_reply.h     FORBIDDEN
  launcher_core_iface    qm_launcher        common/qm_core_exports.h           ALLOWED
  launcher_protocol      qm_launcher        common/core_protocol.h             ALLOWED
  # GTK and WebKit stay inside the window library and the browser host.
  core_gtk               qm_core_shell      gtk/gtk.h                          FORBIDDEN
  core_webkit            qm_core_services   webkit2/webkit2.h                  FORBIDDEN
  launcher_gtk           qm_launcher        gtk/gtk.h                          FORBIDDEN
  bridge_webkit          qm_launcher_bridge webkit2/webkit2.h                  FORBIDDEN
  common_glib            qm_common          glib.h                             FORBIDDEN
  uilib_gtk              KXUiLib            gtk/gtk.h                          ALLOWED
  cefhost_webkit         KXCEF2             webkit2/webkit2.h                  ALLOWED
  # What every web process loads sees neither the window library nor the launcher.
  render_uilib           kxcef_render       uilib/UiLib.h                      FORBIDDEN
  render_launcher        kxcef_render       launcher/bridge/cef_handler.h      FORBIDDEN
  bridge_uilib           qm_launcher_bridge uilib/UiLib.h                      FORBIDDEN
  render_webkit          kxcef_render       webkit2/webkit-web-extension.h     ALLOWED
  # The render side and the web-process extension that links it see nothing
  # of the browser side: no web process has it.
  render_browser         kxcef_render       browser/browser.h                  FORBIDDEN
  render_osr             kxcef_render       osr/offscreen_view.h               FORBIDDEN
  render_cookies         kxcef_render       cookies/cookie_store.h             FORBIDDEN
  render_own             kxcef_render       render/documents.h                 ALLOWED
  webext_browser         qm_render_main     browser/browser.h                  FORBIDDEN
  webext_render_inside   qm_render_main     render/documents.h                 FORBIDDEN
  webext_api             qm_render_main     kxcef/render_extension.h           ALLOWED
  # Implementation headers stay inside their library.
  common_platform_linux  qm_common          platform/linux/crash/minidump_format.h FORBIDDEN
  shell_cefhost_inside   qm_core_shell      engine/app.h                       FORBIDDEN
  shell_uilib_inside     qm_core_shell      runtime.h                          FORBIDDEN
  launcher_cefhost_inside qm_launcher       engine/app.h                       FORBIDDEN
  cefhost_uilib_inside   KXCEF2             runtime.h                          FORBIDDEN
  cefhost_own            KXCEF2             browser/browser.h                  ALLOWED
  uilib_own              KXUiLib            runtime.h                          ALLOWED
  # The voice module sees its binary interface, not the core module.
  nim_core               qm_nim_core           core/services/nim/nim_business.h   FORBIDDEN
  nim_core_shell         qm_nim_core           core/shell/main_wnd.h              FORBIDDEN
  nim_cefhost            qm_nim_core           kxcef/cef3_manager.h               FORBIDDEN
  nim_iface              qm_nim_core           core/services/nim/xnim_interface.h ALLOWED
  update_common          qm_update          common/log_record.h                FORBIDDEN
  # Downward includes that the layers allow.
  common_platform        qm_common          platform/text.h                    ALLOWED
  uilib_platform         KXUiLib            platform/win_types.h               ALLOWED
  cefhost_uilib          KXCEF2             uilib/UiLib.h                      ALLOWED
  services_cefhost       qm_core_services   kxcef/cef3_manager.h               ALLOWED
  shell_uilib            qm_core_shell      uilib/UiLib.h                      ALLOWED
  shell_services         qm_core_shell      core/services/reply/js_reply.h     ALLOWED
  launcher_cefhost       qm_launcher        kxcef/cef3_manager.h               ALLOWED
)

include(${QM_LAYER_VIEWS})
file(REMOVE_RECURSE ${QM_PROBE_BINARY})
set(src ${QM_PROBE_BINARY}/src)
file(MAKE_DIRECTORY ${src})
set(project "cmake_minimum_required(VERSION 3.25)\nproject(layer_probe CXX)\n")
string(APPEND project "set(CMAKE_CXX_STANDARD 17)\nset(CMAKE_CXX_STANDARD_REQUIRED ON)\n")
set(names "")
list(LENGTH cases n)
math(EXPR last "${n} - 1")
foreach(i RANGE 0 ${last} 4)
  math(EXPR i1 "${i} + 1")
  math(EXPR i2 "${i} + 2")
  math(EXPR i3 "${i} + 3")
  list(GET cases ${i} name)
  list(GET cases ${i1} library)
  list(GET cases ${i2} header)
  list(GET cases ${i3} expect)
  if(NOT DEFINED QM_VIEW_${library})
    message(FATAL_ERROR "no include view of ${library}")
  endif()
  list(APPEND names ${name})
  set(library_${name} ${library})
  set(header_${name} ${header})
  set(expect_${name} ${expect})
  if(header MATCHES "^(gtk|webkit2)/|^glib")
    file(WRITE ${src}/${name}.cpp "#include <${header}>\n")
  else()
    file(WRITE ${src}/${name}.cpp "#include \"${header}\"\n")
  endif()
  string(REPLACE ";" " " dirs "${QM_VIEW_${library}}")
  string(APPEND project "add_library(${name} OBJECT EXCLUDE_FROM_ALL src/${name}.cpp)\n")
  string(APPEND project "target_include_directories(${name} PRIVATE ${dirs})\n")
endforeach()
file(WRITE ${QM_PROBE_BINARY}/CMakeLists.txt "${project}")

execute_process(COMMAND ${CMAKE_COMMAND} -S ${QM_PROBE_BINARY} -B ${QM_PROBE_BINARY}/build
    -G ${QM_GENERATOR} -DCMAKE_CXX_COMPILER=${QM_CXX}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the probe project does not configure:\n${out}")
endif()

set(failures 0)
foreach(name ${names})
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${QM_PROBE_BINARY}/build --target ${name}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "([][+.*()^$])" "\\\\\\1" escaped "${header_${name}}")
  if(expect_${name} STREQUAL "ALLOWED")
    if(rc EQUAL 0)
      message(STATUS "ok   ${name}: ${library_${name}} may include ${header_${name}}")
    else()
      message(SEND_ERROR "FAIL ${name}: ${library_${name}} cannot include ${header_${name}}:\n${out}")
      math(EXPR failures "${failures} + 1")
    endif()
  elseif(rc EQUAL 0)
    message(SEND_ERROR "FAIL ${name}: ${library_${name}} includes ${header_${name}}, which its layer forbids")
    math(EXPR failures "${failures} + 1")
  elseif(NOT out MATCHES "${escaped}: No such file or directory")
    message(SEND_ERROR "FAIL ${name}: failed, but not for want of ${header_${name}}:\n${out}")
    math(EXPR failures "${failures} + 1")
  else()
    message(STATUS "ok   ${name}: ${library_${name}} cannot include ${header_${name}}")
  endif()
endforeach()

# --- Operating-system headers -------------------------------------------------------------
# Every operating-system call is behind platform/. The exceptions, each with
# its reason, are written down in ARCHITECTURE.md ("Operating-system calls");
# a file or folder (ending in "/") listed here may include these headers.
set(os_exceptions
  # The voice module: an outside module built against the binary interface
  # alone; its network (sockets, name lookup, poll), its session thread's
  # wake-up, loading the sound library on first use, its audio threads'
  # priority and the programs it finds under /proc are its own job.
  outside/qm_nim/net/
  outside/qm_nim/session/voice_session.cpp
  outside/qm_nim/session/server_admin.cpp
  outside/qm_nim/audio/pulse_library.cpp
  outside/qm_nim/audio/pulse_audio.cpp
  outside/qm_nim/audio/thread_priority.cpp
  outside/qm_nim/module/voice_module.cpp
)
set(os_header_pattern
  "#[ \t]*include[ \t]*<((sys|netinet|arpa|linux|net)/[a-z_0-9/]+|unistd|fcntl|poll|dlfcn|sched|signal|pthread|netdb|dirent|link|elf|termios|spawn|pwd|grp|ifaddrs|syscall|semaphore|mqueue|utmp|ucontext)\\.h>")
set(os_failures 0)
file(GLOB_RECURSE sources RELATIVE ${QM_SOURCE_DIR}
  ${QM_SOURCE_DIR}/common/*.cpp ${QM_SOURCE_DIR}/common/*.h
  ${QM_SOURCE_DIR}/core/*.cpp ${QM_SOURCE_DIR}/core/*.h
  ${QM_SOURCE_DIR}/launcher/*.cpp ${QM_SOURCE_DIR}/launcher/*.h
  ${QM_SOURCE_DIR}/uilib/*.cpp ${QM_SOURCE_DIR}/uilib/*.h
  ${QM_SOURCE_DIR}/cefhost/*.cpp ${QM_SOURCE_DIR}/cefhost/*.h
  ${QM_SOURCE_DIR}/outside/*.cpp ${QM_SOURCE_DIR}/outside/*.h)
foreach(f ${sources})
  file(STRINGS ${QM_SOURCE_DIR}/${f} hits REGEX "${os_header_pattern}")
  if(NOT hits)
    continue()
  endif()
  set(excepted FALSE)
  foreach(e ${os_exceptions})
    if(e MATCHES "/$")
      string(FIND "${f}" "${e}" at)
      if(at EQUAL 0)
        set(excepted TRUE)
      endif()
    elseif(f STREQUAL e)
      set(excepted TRUE)
    endif()
  endforeach()
  if(excepted)
    continue()
  endif()
  foreach(hit ${hits})
    string(STRIP "${hit}" hit)
    message(SEND_ERROR "FAIL os_headers: ${f} calls the operating system past platform/: ${hit}")
    math(EXPR os_failures "${os_failures} + 1")
  endforeach()
endforeach()
list(LENGTH sources scanned)
if(scanned EQUAL 0)
  message(FATAL_ERROR "os_headers: no sources found under ${QM_SOURCE_DIR}")
endif()
if(os_failures EQUAL 0)
  message(STATUS "ok   os_headers: ${scanned} files include the operating system's headers only where allowed")
endif()
if(failures GREATER 0 OR os_failures GREATER 0)
  message(FATAL_ERROR "${failures} layering case(s) and ${os_failures} operating-system include(s) outside platform/ failed")
endif()
