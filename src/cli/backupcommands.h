#pragma once

class SyncCliOptions;

// The "backups" and "export" commands: the old phone's data without a run.
class BackupCommands
{
public:
    static int listBackups(const SyncCliOptions &aOptions);
    // Writes messages.xml, address.xml and DCIM/... into the output folder and
    // prints what it wrote; anything that could not be exported makes it exit 1.
    static int exportBackup(const SyncCliOptions &aOptions);
};
