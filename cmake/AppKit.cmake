# AppKit's pasteboard (src/clipboard/appkit_clipboard.mm): Apple's AppKit framework on macOS,
# GNUstep's on other systems (Debian: libgnustep-gui-dev, gobjc++-12, and gpbs from
# gnustep-back-common to run it). The interface target cliptint_appkit links it;
# cliptint_objective_cpp() makes Objective-C++ of a target's .mm sources.
#
# The .mm sources are compiled as C++ with -x objective-c++, which keeps the C++ standard and
# warnings of the rest (CMake's OBJCXX language passes g++ no -std). On GNUstep the headers come
# in with -isystem, on those sources only: as -I they bring hundreds of warnings.
add_library(cliptint_appkit INTERFACE)
if(APPLE)
  find_library(APPKIT_FRAMEWORK AppKit REQUIRED)
  target_link_libraries(cliptint_appkit INTERFACE ${APPKIT_FRAMEWORK})
  set(CLIPTINT_OBJCXX_OPTIONS -x objective-c++ -fobjc-exceptions)
else()
  find_path(GNUSTEP_INCLUDE_DIR AppKit/NSPasteboard.h PATH_SUFFIXES GNUstep REQUIRED)
  find_library(GNUSTEP_GUI_LIBRARY gnustep-gui REQUIRED)
  find_library(GNUSTEP_BASE_LIBRARY gnustep-base REQUIRED)
  # libobjc is the compiler's own (gobjc++-12), in its folder: -lobjc finds it there.
  target_link_libraries(cliptint_appkit INTERFACE ${GNUSTEP_GUI_LIBRARY} ${GNUSTEP_BASE_LIBRARY}
                                                  objc Threads::Threads)
  set(CLIPTINT_OBJCXX_OPTIONS
      -x objective-c++ -fobjc-exceptions -fconstant-string-class=NSConstantString
      -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1
      -D_NATIVE_OBJC_EXCEPTIONS -isystem ${GNUSTEP_INCLUDE_DIR})
endif()

function(cliptint_objective_cpp target)
  set_source_files_properties(${ARGN} TARGET_DIRECTORY ${target} PROPERTIES
                              LANGUAGE CXX COMPILE_OPTIONS "${CLIPTINT_OBJCXX_OPTIONS}")
endfunction()
