# The Debian package. Its dependencies are computed from the linked
# libraries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvik-nimbra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "orvik maintainers <maintainers@orvik.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DashScope on your own key: chat, images, video, speech")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "orvik nimbra drives Alibaba Cloud's DashScope model service directly on\n the user's own API key: streamed chat, image and video generation with\n asynchronous tasks, speech, a local gallery and key diagnostics.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
