// Placeholder until the zoom-level logic lands.
