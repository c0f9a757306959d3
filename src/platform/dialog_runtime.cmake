# Sources of this part of the library, added to zorbelutilnd_objects.
