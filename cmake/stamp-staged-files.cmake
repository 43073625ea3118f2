# Run by CPack between staging the files and packing them: every staged
# file and folder gets the date SOURCE_DATE_EPOCH gives, so that a package
# built again from the same sources is byte for byte the same.
execute_process(
    COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
    COMMAND_ERROR_IS_FATAL ANY)
# The folders CPack itself makes follow the umask; a package's are 0755.
execute_process(
    COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -type d -exec chmod 755 {} +
    COMMAND_ERROR_IS_FATAL ANY)
