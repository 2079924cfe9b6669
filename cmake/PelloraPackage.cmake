# The Debian package: `cpack -G DEB` in a build folder makes pellora_<version>_<arch>.deb of
# everything `cmake --install` lays out, installed under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellora)
set(CPACK_PACKAGE_VENDOR "The Pellora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PELLORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PELLORA_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop reminder that shows and speaks messages you chose")
# The long description; the summary above is its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pellora keeps a small status strip on top of your windows. At a fixed
interval, or at random between two bounds, it shows one of the messages
you selected in a large elliptical window, can play a chime and reads the
message aloud with espeak-ng.
.
Messages come in four groups: reality checks, tasks, affirmations and
quotes. Libraries in English, German and Dutch come with the program;
newer ones can be downloaded from an exchange server, and your own
messages can be shared through it. Four skins change the look of its
windows, one of them with high contrast.
.
The package also holds pellora-cli, which picks, lists, downloads and
uploads messages from a terminal, pellora-skinpack for skin files, and
the exchange server's CGI programs with its admin tool pellora-exchange.")

# The shared libraries the programs link give most of the dependencies (dpkg-shlibdeps reads
# them from the packed files). What is only loaded at run time is named here: the speech
# data, the fonts the windows ask for in place of the faces they were designed with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "espeak-ng-data, fonts-dejavu-core, fonts-liberation2")
# The chime and the speech play through a PulseAudio server. (Qt's X11 platform plugin and
# its sound back ends come with libqt6gui6 and libqt6multimedia6, which the programs link.)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")

include(CPack)
