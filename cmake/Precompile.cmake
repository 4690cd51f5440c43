# Each translation unit of the Qt layers spends most of its time reading Qt's headers: a library
# reads them once, as a precompiled header, for all its files.
set(QUENTA_PRECOMPILED_QT
    <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QList> <QObject> <QString>
    <QStringList> <QTimer> <QVariant>
    <functional> <map> <memory> <optional> <string> <string_view> <vector>)

# quenta_precompile(TARGET [HEADER...]): the common Qt headers and these, precompiled for TARGET.
function(quenta_precompile target)
    if(QUENTA_FUZZ)
        return() # the fuzz build compiles the core alone
    endif()
    target_precompile_headers(${target} PRIVATE ${QUENTA_PRECOMPILED_QT} ${ARGN})
endfunction()
