# Where `cmake --install` puts things. The program tree (the program,
# yonderpad-units, their libraries, webext/, page/, the projects, App.ico and
# Repository/) stays one folder, as in build/dist, because the programs find
# everything relative to their own file; under a system prefix that folder is
# lib/yonderpad. Desktop files, man pages, bash completion, the commands on the
# PATH and the module SDK go to their usual places beside it.
include(GNUInstallDirs)

set(KORVO_INSTALL_TREE "lib/yonderpad" CACHE STRING
  "Folder under the install prefix that holds the program tree")
set(KORVO_INSTALL_BIN "${KORVO_INSTALL_TREE}/bin")

# Everything installed without a component of its own belongs to the program
# package; the module SDK is the dev component.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME program)
