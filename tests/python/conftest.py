import pytest


@pytest.fixture(autouse=True, scope="session")
def isolated_cache_path(tmp_path_factory):
    """Points the basis cache at a fresh directory for the whole test session."""
    cache_dir = tmp_path_factory.mktemp("tavrin-cache")
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("TAVRIN_CACHE_PATH", str(cache_dir))
        yield cache_dir
