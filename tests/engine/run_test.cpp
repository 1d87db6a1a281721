// whole runs: written next
