// Placeholder until the harness is written.
