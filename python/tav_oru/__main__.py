"""python3 -m tav_oru: list cameras, print their controls, capture frames."""
import sys

from .cli import main

sys.exit(main())
